#include "QuilloBar/AppDelegate.h"

#include "QuilloBar/KeyringStatus.h"
#include "QuilloBar/SettingsRules.h"
#include "QuilloBar/SettingsView.h"
#include "QuilloBar/SettingsWindow.h"
#include "QuilloBar/TrayHostWatcher.h"
#include "QuilloBar/UserText.h"
#include "agent/IssueCache.h"
#include "store/BuildFingerprint.h"
#include "store/InstallTree.h"
#include "store/Preferences.h"
#include "store/Vault.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>
#include <cstdio>
#include <exception>
#include <qpa/qplatformnativeinterface.h>
#include <type_traits>
#include <utility>
#include <variant>

namespace quillo {
namespace {

// A run's result line is cut to this many user-perceived characters.
constexpr qsizetype resultLineLimit = 400;
constexpr std::chrono::minutes scheduleInterval(5);

const QString displayGuide =
    QStringLiteral("https://docs.usetrmnl.com/go/private-plugins/webhooks");
const QString cupsPrinters = QStringLiteral("http://localhost:631/printers/");
// What preview mode offers instead of the system's print queues.
const QStringList samplePrinters{QStringLiteral("Brother HL-L2350DW"),
                                 QStringLiteral("Office LaserJet")};

AppDelegate::Setup productionSetup() {
    return {InstallTree::root(), QString(), QCoreApplication::arguments(), toolStepTimeLimit};
}

QString executableIn(const std::filesystem::path& root) {
    return QString::fromStdString((root / InstallTree::executable).string());
}

// An executable that cannot be read identifies no build, and neither does a
// digest that failed: both leave the fingerprint empty, which is never authorized.
QString fingerprintOf(const std::filesystem::path& root) {
    if (root.empty() || !QFileInfo(executableIn(root)).isReadable()) {
        return {};
    }
    return buildFingerprint(root);
}

bool askBeforeDelivering(const QString& text, const QString& informativeText) {
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Quillo"));
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    // Printer names are the reader's own text: never let them pass for markup.
    box.setInformativeText(Qt::convertFromPlainText(informativeText, Qt::WhiteSpaceNormal));
    QPushButton* deliver = box.addButton(QStringLiteral("Deliver"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(deliver);
    box.setEscapeButton(cancel);
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
    return box.clickedButton() == deliver;
}

AppDelegate::Desktop systemDesktop() {
    return {[](const QUrl& url) { QDesktopServices::openUrl(url); },
            [](const QString& program) { QProcess::startDetached(program, {}); },
            askBeforeDelivering};
}

// The installed symbolic icon when there is one: the tray is handed its name,
// so the desktop draws it in the panel's own colour (Qt hands over only pixels
// otherwise, and a black drawing vanishes on a dark panel). Else the drawn
// icon, marked as a mask; a theme icon when that cannot be drawn (no SVG
// support installed).
QIcon menuIcon() {
    const QString symbolic = QStringLiteral("news.quillo.QuilloBar-symbolic");
    if (QIcon::hasThemeIcon(symbolic)) {
        return QIcon::fromTheme(symbolic);
    }
    QIcon icon(QStringLiteral(":/quillo/MenuIcon.svg"));
    if (icon.pixmap(QSize(18, 18)).isNull()) {
        return QIcon::fromTheme(QStringLiteral("newspaper"),
                                QIcon::fromTheme(QStringLiteral("x-office-document")));
    }
    icon.setIsMask(true);
    return icon;
}

// Only a desktop that can show windows can show a tray item.
bool platformShowsTrayItems() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"));
}

// Hands a later launch's token to Qt's platform plugin before the window is
// raised. The Wayland plugin activates the next window with
// XDG_ACTIVATION_TOKEN and then clears it. On X11 the startup id goes on the
// next window shown, which ends the launcher's busy feedback, and the time
// within it ("…_TIME<ms>") is the user's action that lets the window manager
// give the window the focus.
void takeActivationToken(const QByteArray& token) {
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland"))) {
        qputenv("XDG_ACTIVATION_TOKEN", token);
        return;
    }
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (platform != QLatin1String("xcb") || native == nullptr) {
        return;
    }
    using SetStartupId = void (*)(const char*);
    using SetTime = void (*)(QScreen*, quint32);
    if (auto set = reinterpret_cast<SetStartupId>(
            native->nativeResourceFunctionForIntegration("setstartupid"))) {
        set(token.constData());
    }
    const qsizetype mark = token.lastIndexOf("_TIME");
    bool valid = false;
    const quint32 time = mark < 0 ? 0 : token.mid(mark + 5).toUInt(&valid);
    if (!valid || time == 0) {
        return;
    }
    for (const char* name : {"setapptime", "setappusertime"}) {
        if (auto set = reinterpret_cast<SetTime>(native->nativeResourceFunctionForScreen(name))) {
            set(QGuiApplication::primaryScreen(), time);
        }
    }
}

void bringToFront(QWidget* window) {
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

// The settings window. Without a tray item its header carries the tray's menu.
std::unique_ptr<QWidget> createSettingsWindow(SettingsModel& form, QMenu* headerMenu) {
    auto window = std::make_unique<SettingsWindow>(form);
    window->view().setHeaderMenu(headerMenu);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        window->move(screen->availableGeometry().center() - window->rect().center());
    }
    return window;
}

// The issue file's name with its last extension replaced: issue-12.pdf gives
// issue-12.preview.png.
QString previewImagePath(const QString& pdf) {
    std::filesystem::path image(pdf.toStdString());
    image.replace_extension("preview.png");
    return QString::fromStdString(image.string());
}

} // namespace

struct Secrets {
    VaultLookup token;
    VaultLookup webhook;
};

struct SavedSecrets {
    bool keyStored = false;
    bool webhookStored = false;
    std::optional<QString> failure;
};

namespace {

Secrets readSecrets(bool interactive) {
    Secrets found{Vault::lookup(SecretAccount::printToken, interactive), {}};
    // After a dismissed prompt or a keyring that does not answer, a second
    // read would only prompt or wait again.
    if (keyMayBeThere(found.token.problem) && found.token.problem != KeyringProblem::locked) {
        found.webhook = found.token;
    } else {
        found.webhook = Vault::lookup(SecretAccount::einkWebhook, interactive);
    }
    return found;
}

// The key first: a webhook is stored only once the key is.
SavedSecrets storeSecrets(const QString& key, const QString& webhook) {
    SavedSecrets stored;
    try {
        if (!key.isEmpty()) {
            Vault::save(key, SecretAccount::printToken);
            stored.keyStored = true;
        }
        if (!webhook.isEmpty()) {
            Vault::save(webhook, SecretAccount::einkWebhook);
            stored.webhookStored = true;
        }
    } catch (const VaultError& error) {
        stored.failure = QString::fromUtf8(error.what());
    }
    return stored;
}

QString connectedLine(bool automatic) {
    return automatic ? QStringLiteral("Connected \u00B7 automatic delivery on")
                     : QStringLiteral("Connected \u00B7 automatic delivery off");
}

// A stored address opens only when it names its scheme: a bare word would
// otherwise be taken for a local file.
std::optional<QUrl> absoluteUrl(const QString& text) {
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative()) {
        return std::nullopt;
    }
    return url;
}

} // namespace

AppDelegate::AppDelegate(QObject* parent) : AppDelegate(productionSetup(), parent) {}

AppDelegate::AppDelegate(const Setup& setup, QObject* parent)
    : QObject(parent), desktop(systemDesktop()),
      status_(QStringLiteral("Connect your newspaper in Settings")),
      defaults_(setup.preferencesFile.isEmpty()
                    ? std::make_unique<Preferences>()
                    : std::make_unique<Preferences>(setup.preferencesFile)),
      fingerprint_(fingerprintOf(setup.installRoot)),
      arguments_(LaunchArguments::parse(setup.arguments)), previewMode_(arguments_.previewMode),
      installRoot_(setup.installRoot), toolStepTimeLimit_(setup.toolStepTimeLimit),
      printerListing_(setup.printerListing),
      loginItem_(setup.autostartDirectory.isEmpty() ? LoginItem()
                                                    : LoginItem(setup.autostartDirectory)) {
    desktop.confirmTurnOn = [this](DeliveryDestination destination) {
        return quillo::confirmTurnOn(settings_.get(), destination);
    };
    connect(&menu_, &StatusMenu::readLatestIssue, this, &AppDelegate::preview);
    connect(&menu_, &StatusMenu::syncNow, this, &AppDelegate::syncNow);
    connect(&menu_, &StatusMenu::showSettings, this, &AppDelegate::showSettings);
    connect(&menu_, &StatusMenu::openSite, this, &AppDelegate::openSite);
    connect(&menu_, &StatusMenu::quit, this, &AppDelegate::quit);
    // A restart that waits for the reader's edits goes once they are saved or undone.
    connect(&form_, &SettingsModel::changed, this, [this] {
        if (restartPending_) {
            QTimer::singleShot(0, this, &AppDelegate::restartWhenIdle);
        }
    });
}

AppDelegate::~AppDelegate() = default;

// The result comes back to the main thread by value. Whatever is still out at
// exit is abandoned: the watcher goes with the delegate.
template <typename Work, typename Done> void AppDelegate::inBackground(Work work, Done done) {
    using Result = std::invoke_result_t<Work>;
    auto* watcher = new QFutureWatcher<Result>(this);
    ++tasksInFlight_;
    connect(watcher, &QFutureWatcher<Result>::finished, this,
            [this, watcher, done = std::move(done)] {
                --tasksInFlight_;
                done(watcher->result());
                watcher->deleteLater();
                restartWhenIdle();
            });
    watcher->setFuture(QtConcurrent::run(std::move(work)));
}

void AppDelegate::applicationDidFinishLaunching() {
    QApplication::setQuitOnLastWindowClosed(false);
    // Watching starts before the tray is looked for, so a host that comes up
    // in between is not missed.
    if (!previewMode_ && platformShowsTrayItems()) {
        trayHostWatcher_ = new TrayHostWatcher(this);
        connect(trayHostWatcher_, &TrayHostWatcher::hostAppeared, this,
                &AppDelegate::trayHostAppeared);
    }
    const bool trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    if (trayAvailable) {
        showTrayItem();
    }
    refreshMenu();

    defaults_->sync();
    const LaunchPlan plan =
        planLaunch(arguments_, {defaults_->boolean(PreferenceKey::didShowWelcome),
                                defaults_->string(PreferenceKey::authorizedBuild), fingerprint_,
                                trayAvailable});
    if (previewMode_) {
        status_ = QStringLiteral("Preview only \u00B7 no network, printing or uploads");
        showSettings();
        refreshMenu();
        if (plan.snapshotPath) {
            startSnapshot(*plan.snapshotPath);
        }
        return;
    }
    schedule();
    if (plan.recordWelcome) {
        defaults_->setBoolean(PreferenceKey::didShowWelcome, true);
        defaults_->sync();
    }
    if (plan.showSettings) {
        showSettings();
    }
    if (plan.unlockSilently) {
        unlockSilently();
    }
}

void AppDelegate::applicationShouldHandleReopen(const QByteArray& activationToken) {
    if (!activationToken.isEmpty()) {
        takeActivationToken(activationToken);
        // On X11 the token reaches the window manager with the window's next
        // mapping: one already shown behind others is mapped again.
        if (settings_ && settings_->isVisible() &&
            QGuiApplication::platformName() == QLatin1String("xcb")) {
            settings_->hide();
        }
    }
    showSettings();
}

void AppDelegate::showTrayItem() {
    item_ = std::make_unique<QSystemTrayIcon>(menuIcon());
    item_->setToolTip(QStringLiteral("Quillo \u00B7 Your newspaper, delivered."));
    item_->setContextMenu(menu_.menu());
    // Hosts that send a plain click rather than opening the menu themselves
    // (KDE Plasma, XFCE). Wayland gives a parentless menu no place to open,
    // so there the click brings up the settings instead.
    connect(item_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason != QSystemTrayIcon::Trigger) {
                    return;
                }
                if (QGuiApplication::platformName() == QLatin1String("xcb")) {
                    menu_.menu()->popup(QCursor::pos());
                } else {
                    showSettings();
                }
            });
    item_->show();
    delete trayHostWatcher_;
    trayHostWatcher_ = nullptr;
}

void AppDelegate::schedule() {
    timer_ = new QTimer(this);
    timer_->setTimerType(Qt::VeryCoarseTimer);
    timer_->setInterval(scheduleInterval);
    connect(timer_, &QTimer::timeout, this, [this] {
        // A keyring signal may have been missed: the check reads the key again first.
        if (!unlockedToken_ && keyringWatcher_ != nullptr) {
            keyringChanged();
            return;
        }
        defaults_->sync();
        runAgent(defaults_->boolean(PreferenceKey::automatic));
    });
    timer_->start();
}

void AppDelegate::unlockSilently() {
    keyringBusy_ = true;
    ++keyringCalls_;
    form_.setWorking(true);
    inBackground([] { return readSecrets(false); },
                 [this](const Secrets& secrets) { finishSilentUnlock(secrets); });
}

void AppDelegate::finishSilentUnlock(const Secrets& secrets) {
    keyringBusy_ = false;
    const VaultLookup& token = secrets.token;
    if (!keyMayBeThere(token.problem)) {
        unlockedToken_ = token.value;
        unlockedWebhook_ = secrets.webhook.value;
    }
    defaults_->sync();
    status_ = token.value ? connectedLine(defaults_->boolean(PreferenceKey::automatic))
                          : keyringLine(token, true);
    showKeyState(token);
    if (!token.value && keyMayBeThere(token.problem)) {
        followKeyring();
        if (std::exchange(keyringChangedMeanwhile_, false)) {
            unlockSilently();
            return;
        }
    }
    refreshMenu();
    if (unlockedToken_) {
        runAgent(false);
    }
}

// The saved-key row follows what the keyring said: a key that is there but
// locked, or behind a dismissed prompt, keeps its row with "Unlock…".
void AppDelegate::showKeyState(const VaultLookup& token) {
    if (token.value || token.problem == KeyringProblem::none) {
        form_.setKeySaved(true);
        form_.setNeedsUnlock(!unlockedToken_);
    } else if (token.problem == KeyringProblem::missing) {
        form_.setKeySaved(false);
        form_.setNeedsUnlock(false);
    } else if (token.problem == KeyringProblem::locked ||
               token.problem == KeyringProblem::dismissed) {
        form_.setKeySaved(true);
        form_.setNeedsUnlock(true);
    } else {
        // The keyring did not answer: a key known before may be tried again.
        form_.setNeedsUnlock(form_.keySaved() && !unlockedToken_);
    }
    form_.setWebhookSaved(unlockedWebhook_.has_value());
}

void AppDelegate::followKeyring() {
    if (keyringWatcher_ != nullptr) {
        return;
    }
    keyringWatcher_ = new KeyringWatcher(this);
    connect(keyringWatcher_, &KeyringWatcher::changed, this, &AppDelegate::keyringChanged);
}

// Unlocked elsewhere (a login manager, another application's prompt): read
// silently and connect, with nothing asked of the reader.
void AppDelegate::keyringChanged() {
    if (unlockedToken_) {
        return;
    }
    if (keyringBusy_) {
        keyringChangedMeanwhile_ = true;
        return;
    }
    unlockSilently();
}

// A key stored by configure mode, or by an earlier build, is offered for
// unlocking; asking whether it exists reads nothing and never prompts.
void AppDelegate::probeSavedKey() {
    if (previewMode_ || unlockedToken_ || keyringBusy_) {
        return;
    }
    inBackground([] { return Vault::probe(SecretAccount::printToken); },
                 [this, calls = keyringCalls_](const VaultLookup& found) {
                     if (calls == keyringCalls_ && !unlockedToken_) {
                         showKeyState(found);
                     }
                 });
}

void AppDelegate::startSnapshot(const QString& path) {
    form_.setKeySaved(true);
    form_.setConnected(true);
    form_.setAutomatic(true);
    form_.setLaunchAtLogin(true);
    form_.setPrinter(form_.printers().isEmpty() ? QString() : form_.printers().first());
    form_.setStatus(QStringLiteral("Last issue printed at 6:31 AM"));
    QTimer::singleShot(1500, this, [this, path] {
        bool written = false;
        if (settings_) {
            if (QWidget* focused = settings_->focusWidget()) {
                focused->clearFocus();
            }
            written = settings_->grab().save(path, "PNG");
        }
        // A script that asked for a picture must learn that it got none.
        if (!written) {
            std::fprintf(stderr, "Could not write the snapshot to %s\n", qPrintable(path));
        }
        QCoreApplication::exit(written ? 0 : 1);
    });
}

std::optional<QString> AppDelegate::cachedPDF() const {
    defaults_->sync();
    return cachedIssuePdf(QDir::homePath(), defaults_->origin(), unlockedToken_);
}

RunSettings AppDelegate::runSettings(bool delivery) const {
    // Picks up what the configure mode wrote from another process meanwhile.
    defaults_->sync();
    RunSettings settings;
    settings.origin = defaults_->origin();
    settings.deliveryKey = unlockedToken_.value_or(QString());
    settings.toolPath =
        QString::fromStdString((installRoot_ / InstallTree::companionTool).string());
    settings.rendererPath =
        QString::fromStdString((installRoot_ / InstallTree::executable).string());
    settings.destination = defaults_->destination();
    settings.pageCount = defaults_->effectivePageCount();
    settings.delivery = delivery;
    settings.automatic = defaults_->boolean(PreferenceKey::automatic);
    settings.printer = defaults_->string(PreferenceKey::printer).value_or(QString());
    settings.displayModel = defaults_->displayModel();
    settings.webhook = unlockedWebhook_;
    return settings;
}

void AppDelegate::runAgent(bool delivery) {
    if (previewMode_ || busy_ || !unlockedToken_ || unlockedToken_->isEmpty()) {
        return;
    }
    const RunSettings settings = runSettings(delivery);
    if (delivery) {
        // An empty but present webhook passes: the tool reports what is wrong with it.
        const bool printerMissing = prints(settings.destination) && settings.printer.isEmpty();
        const bool webhookMissing = displays(settings.destination) && !settings.webhook;
        if (printerMissing || webhookMissing) {
            status_ = QStringLiteral("Finish device setup in Settings");
            refreshMenu();
            return;
        }
    }

    busy_ = true;
    status_ = delivery ? QStringLiteral("Delivering your newspaper\u2026")
                       : QStringLiteral("Checking for a new issue\u2026");
    refreshMenu();

    inBackground(
        [settings, limit = toolStepTimeLimit_] {
            // Whatever happens, the run must end in a line, or busy stays set for good.
            try {
                return performRun(settings, limit);
            } catch (const std::exception& error) {
                return QString::fromUtf8(error.what());
            }
        },
        [this](const QString& resultLine) { finishRun(resultLine); });
}

void AppDelegate::finishRun(const QString& resultLine) {
    busy_ = false;
    status_ = leadingCharacters(resultLine, resultLineLimit);
    refreshMenu();
}

void AppDelegate::refreshMenu() {
    menu_.show({status_, busy_, unlockedToken_.has_value(), cachedPDF().has_value()});
    form_.setStatus(status_);
    form_.setConnected(unlockedToken_.has_value());
    form_.setWorking(busy_ || keyringBusy_);
    emit statusChanged(status_);
}

void AppDelegate::syncNow() {
    if (previewMode_) {
        return;
    }
    defaults_->sync();
    const DeliveryDestination destination = defaults_->destination();
    QStringList paragraphs;
    if (prints(destination)) {
        const QString printer = defaults_->string(PreferenceKey::printer).value_or(QString());
        if (printer.isEmpty()) {
            showSettings();
            return;
        }
        paragraphs.append(QStringLiteral("Print one copy to %1, up to %2 US Letter pages. "
                                         "Previously printed issues are not printed twice.")
                              .arg(printer, QString::number(defaults_->effectivePageCount())));
    }
    if (displays(destination)) {
        if (!unlockedWebhook_) {
            showSettings();
            return;
        }
        paragraphs.append(QStringLiteral(
            "Upload a monochrome image of the front page to TRMNL\u2019s cloud. It may include "
            "private issue content. The display updates on its next Wi-Fi refresh. Remaining "
            "pages stay in the PDF."));
    }
    if (desktop.confirmDelivery(QStringLiteral("Deliver your latest newspaper?"),
                                paragraphs.join(QStringLiteral("\n\n")))) {
        runAgent(true);
    }
    // A tray host that appeared while the question was open.
    restartWhenIdle();
}

void AppDelegate::preview() {
    if (const auto pdf = cachedPDF()) {
        desktop.open(QUrl::fromLocalFile(*pdf));
    }
}

void AppDelegate::previewDisplay() {
    const auto pdf = cachedPDF();
    if (!pdf) {
        status_ = QStringLiteral("Check for an issue first");
        refreshMenu();
        return;
    }
    const QString image = previewImagePath(*pdf);
    inBackground(
        [pdf = *pdf, image, model = form_.display(),
         renderer = QString::fromStdString((installRoot_ / InstallTree::executable).string())] {
            return renderDisplayFrame(renderer, pdf, image, model);
        },
        [this, image](const std::optional<QString>& failure) {
            if (failure) {
                status_ = *failure;
                refreshMenu();
            } else {
                desktop.open(QUrl::fromLocalFile(image));
            }
        });
}

void AppDelegate::openSite() {
    defaults_->sync();
    if (const auto site = absoluteUrl(defaults_->origin())) {
        desktop.open(*site);
    }
}

void AppDelegate::openNewsroom() {
    defaults_->sync();
    // "https://host/" from configure mode must not become "https://host//onboarding".
    if (const auto newsroom = absoluteUrl(withoutSurroundingSlashes(defaults_->origin()) +
                                          QStringLiteral("/onboarding"))) {
        desktop.open(*newsroom);
    }
}

void AppDelegate::openDisplayGuide() {
    desktop.open(QUrl(displayGuide));
}

void AppDelegate::openQueue() {
    const QString printSettings =
        QStandardPaths::findExecutable(QStringLiteral("system-config-printer"));
    if (!printSettings.isEmpty()) {
        desktop.start(printSettings);
    } else {
        desktop.open(QUrl(cupsPrinters));
    }
}

void AppDelegate::quit() {
    QCoreApplication::quit();
}

void AppDelegate::showSettings() {
    if (!settings_) {
        fillForm();
        installFormActions();
        // The preview is a picture of the window as a tray desktop shows it.
        settings_ = createSettingsWindow(form_, item_ || previewMode_ ? nullptr : menu_.menu());
        probeSavedKey();
    }
    bringToFront(settings_.get());
}

void AppDelegate::failSave(const QString& message) {
    status_ = message;
    refreshMenu();
}

// Nothing written before a failure is undone; the checks come first, so a
// refused form writes nothing at all.
void AppDelegate::saveSettings() {
    if (previewMode_) {
        failSave(SaveMessage::previewOnly);
        return;
    }
    if (busy_ || keyringBusy_) {
        return;
    }
    const auto checked = checkSave({form_.origin(), form_.destination(), form_.display(),
                                    form_.webhook(), form_.key(), form_.maxPages(), form_.printer(),
                                    form_.automatic(), unlockedWebhook_, unlockedToken_});
    if (const auto* refusal = std::get_if<SaveRefusal>(&checked)) {
        emit form_.refused(refusal->field, refusal->message);
        failSave(refusal->message);
        return;
    }
    const auto& save = std::get<ValidatedSave>(checked);
    defaults_->sync();
    if (needsTurnOnConfirmation(save, StoredDelivery::read(*defaults_)) &&
        !desktop.confirmTurnOn(save.destination)) {
        return;
    }
    if (save.typedKey.isEmpty() && save.typedWebhook.isEmpty()) {
        finishSave(save, {}, choicesOf(form_));
        return;
    }
    // The keyring may prompt, or not answer at all: never on this thread.
    keyringBusy_ = true;
    ++keyringCalls_;
    status_ = QStringLiteral("Saving to your keyring\u2026");
    refreshMenu();
    inBackground(
        [key = save.typedKey, webhook = save.typedWebhook] { return storeSecrets(key, webhook); },
        [this, save, submitted = choicesOf(form_)](const SavedSecrets& stored) {
            keyringBusy_ = false;
            finishSave(save, stored, submitted);
        });
}

// What was typed is cleared only where the reader has not typed again meanwhile.
void AppDelegate::finishSave(const ValidatedSave& save, const SavedSecrets& stored,
                             SettingsChoices submitted) {
    if (stored.keyStored) {
        unlockedToken_ = save.typedKey;
        if (!fingerprint_.isEmpty()) {
            defaults_->setString(PreferenceKey::authorizedBuild, fingerprint_);
        }
        if (form_.key() == submitted.key) {
            form_.setKey(QString());
        }
        submitted.key.clear();
        form_.setKeySaved(true);
        form_.setReplacingKey(false);
        form_.setNeedsUnlock(false);
    }
    if (stored.webhookStored) {
        unlockedWebhook_ = save.typedWebhook;
        if (form_.webhook() == submitted.webhook) {
            form_.setWebhook(QString());
        }
        submitted.webhook.clear();
        form_.setWebhookSaved(true);
    }
    if (stored.failure) {
        defaults_->sync();
        failSave(couldNotSave(*stored.failure));
        return;
    }

    defaults_->setString(PreferenceKey::origin, save.origin);
    defaults_->setString(PreferenceKey::destination,
                         QString::fromLatin1(rawValue(save.destination)));
    defaults_->setString(PreferenceKey::displayModel, QString::fromLatin1(rawValue(save.display)));
    if (!save.printer.isEmpty()) {
        defaults_->setString(PreferenceKey::printer, save.printer);
    }
    defaults_->setInteger(PreferenceKey::maxPages, save.pageCount);
    defaults_->setBoolean(PreferenceKey::automatic, save.automatic);
    // A settings file that cannot be written must not read as saved.
    if (!defaults_->sync()) {
        failSave(couldNotSave(QStringLiteral("%1 cannot be written").arg(defaults_->filePath())));
        return;
    }

    try {
        loginItem_.setEnabled(form_.launchAtLogin(), executableIn(installRoot_));
    } catch (const LoginItemError& error) {
        failSave(couldNotSave(error.description()));
        return;
    }

    savedChoices_ = submitted;
    status_ = savedStatus(save.automatic);
    refreshMenu();
    runAgent(false);
}

void AppDelegate::fillForm() {
    defaults_->sync();
    const QStringList printers = previewMode_ ? samplePrinters : listPrinters(printerListing_);
    const QString storedPrinter = defaults_->string(PreferenceKey::printer).value_or(QString());
    form_.setPrinters(printers);
    form_.setPrinter(printers.contains(storedPrinter) ? storedPrinter : QString());
    form_.setDestination(defaults_->destination());
    form_.setMaxPages(defaults_->effectivePageCount());
    form_.setDisplay(defaults_->displayModel());
    const bool keySaved =
        unlockedToken_.has_value() || defaults_->string(PreferenceKey::authorizedBuild).has_value();
    form_.setKeySaved(keySaved);
    form_.setNeedsUnlock(!unlockedToken_ && keySaved);
    form_.setWebhookSaved(unlockedWebhook_.has_value());
    form_.setAutomatic(defaults_->boolean(PreferenceKey::automatic));
    form_.setLaunchAtLogin(loginItem_.isEnabled(executableIn(installRoot_)));
    form_.setOrigin(defaults_->origin());
    form_.setStatus(status_);
    form_.setConnected(unlockedToken_.has_value());
    form_.setWorking(busy_ || keyringBusy_);
    savedChoices_ = choicesOf(form_);
}

// The form lives as long as the delegate, but an action copied out of it
// must never reach a delegate that is gone.
void AppDelegate::installFormActions() {
    const QPointer<AppDelegate> self(this);
    const auto forward = [self](void (AppDelegate::*action)()) {
        return [self, action] {
            if (self) {
                (self->*action)();
            }
        };
    };
    form_.save = forward(&AppDelegate::saveSettings);
    form_.unlock = forward(&AppDelegate::authorizeKey);
    form_.openNewsroom = forward(&AppDelegate::openNewsroom);
    form_.openDisplayGuide = forward(&AppDelegate::openDisplayGuide);
    form_.previewDisplay = forward(&AppDelegate::previewDisplay);
    form_.openQueue = forward(&AppDelegate::openQueue);
}

// A second request while one is out would open a second prompt.
void AppDelegate::authorizeKey() {
    if (previewMode_ || busy_ || keyringBusy_) {
        return;
    }
    keyringBusy_ = true;
    ++keyringCalls_;
    status_ = QStringLiteral("Waiting for keyring approval\u2026");
    refreshMenu();
    inBackground([] { return readSecrets(true); },
                 [this](const Secrets& secrets) { finishAuthorization(secrets); });
}

// A keyring that could not answer changes nothing held: only a conclusive
// read replaces the secrets.
void AppDelegate::finishAuthorization(const Secrets& secrets) {
    keyringBusy_ = false;
    const VaultLookup& token = secrets.token;
    if (!keyMayBeThere(token.problem)) {
        unlockedToken_ = token.value;
    }
    if (!keyMayBeThere(secrets.webhook.problem)) {
        unlockedWebhook_ = secrets.webhook.value;
    }
    if (token.value && !fingerprint_.isEmpty()) {
        defaults_->setString(PreferenceKey::authorizedBuild, fingerprint_);
        defaults_->sync();
    }
    showKeyState(token);
    status_ = token.value ? QStringLiteral("Connection authorized") : keyringLine(token, false);
    refreshMenu();
    if (token.value) {
        runAgent(false);
    }
}

// What the reader typed or chose and has not saved would not survive a restart.
bool AppDelegate::hasUnsavedEdits() const {
    return settings_ && choicesOf(form_) != savedChoices_;
}

void AppDelegate::trayHostAppeared() {
    if (item_) {
        return;
    }
    restartPending_ = true;
    restartWhenIdle();
}

// Qt decides once per process whether a tray exists, so showing the item
// takes a new process. A run or a read in flight, or an open question, is
// allowed to finish first.
void AppDelegate::restartWhenIdle() {
    if (!restartPending_ || hasWorkInFlight() || QApplication::activeModalWidget() != nullptr ||
        hasUnsavedEdits()) {
        return;
    }
    restartPending_ = false;
    defaults_->sync();
    emit restartRequested(settings_ && settings_->isVisible());
}

} // namespace quillo
