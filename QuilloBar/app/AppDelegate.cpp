// The tray application's delegate: construction, launch and reopening, the
// tray item, the schedule, delivery runs, the menu and the settings window,
// and the restart that shows a tray item found after launch. The keyring, the
// settings form and the desktop actions have files of their own.

#include "QuilloBar/app/AppDelegate.h"

#include "QuilloBar/app/AppDelegateInternal.h"
#include "QuilloBar/desktop/TrayHostWatcher.h"
#include "QuilloBar/desktop/TrayIconTheme.h"
#include "QuilloBar/desktop/WindowActivation.h"
#include "QuilloBar/settings/Questions.h"
#include "QuilloBar/settings/SettingsView.h"
#include "QuilloBar/settings/SettingsWindow.h"
#include "QuilloBar/settings/UserText.h"
#include "agent/IssueCache.h"
#include "store/BuildFingerprint.h"
#include "store/InstallTree.h"
#include "store/Preferences.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>
#include <exception>

namespace quillo {
namespace {

// A run's result line is cut to this many user-perceived characters.
constexpr qsizetype resultLineLimit = 400;
constexpr std::chrono::minutes scheduleInterval(5);

AppDelegate::Setup productionSetup() {
    return {InstallTree::root(), QString(), QCoreApplication::arguments(), toolStepTimeLimit};
}

// An executable that cannot be read identifies no build, and neither does a
// digest that failed: both leave the fingerprint empty, which is never authorized.
QString fingerprintOf(const std::filesystem::path& root) {
    if (root.empty() || !QFileInfo(executableIn(root)).isReadable()) {
        return {};
    }
    return buildFingerprint(root);
}

// Only a desktop that can show windows can show a tray item.
bool platformShowsTrayItems() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"));
}

// The settings window. Without a tray item its header carries the tray's menu.
std::unique_ptr<SettingsWindow> createSettingsWindow(SettingsModel& form, QMenu* headerMenu) {
    auto window = std::make_unique<SettingsWindow>(form);
    window->view().setHeaderMenu(headerMenu);
    return window;
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
    connect(&keyring_, &Keyring::readFinished, this, &AppDelegate::finishRead);
    connect(&keyring_, &Keyring::workingChanged, this, [this] { form_.setWorking(working()); });
    connect(&keyring_, &Keyring::settled, this, &AppDelegate::restartWhenIdle);
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
        keyring_.readSilently();
    }
}

void AppDelegate::applicationShouldHandleReopen(const QByteArray& activationToken) {
    const bool shown = settings_ && settings_->isVisible();
    if (!activationToken.isEmpty()) {
        takeActivationToken(activationToken, shown);
    }
    showSettings();
    activateWhenShown(*settings_, activationToken);
}

void AppDelegate::showTrayItem() {
    const QString themePath = trayIconThemePath(installRoot_);
    item_ = std::make_unique<QSystemTrayIcon>(themedTrayIcon(themePath));
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
    serveIconThemePath(*item_, themePath);
    delete trayHostWatcher_;
    trayHostWatcher_ = nullptr;
}

void AppDelegate::schedule() {
    timer_ = new QTimer(this);
    timer_->setTimerType(Qt::VeryCoarseTimer);
    timer_->setInterval(scheduleInterval);
    connect(timer_, &QTimer::timeout, this, [this] {
        // A keyring signal may have been missed: the check reads the key again first.
        if (!keyring_.deliveryKey() && keyring_.following()) {
            keyring_.recheck();
            return;
        }
        defaults_->sync();
        runAgent(defaults_->boolean(PreferenceKey::automatic));
    });
    timer_->start();
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
    return cachedIssuePdf(QDir::homePath(), defaults_->origin(), keyring_.deliveryKey());
}

RunSettings AppDelegate::runSettings(bool delivery) const {
    // Picks up what the configure mode wrote from another process meanwhile.
    defaults_->sync();
    RunSettings settings;
    settings.origin = defaults_->origin();
    settings.deliveryKey = keyring_.deliveryKey().value_or(QString());
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
    settings.webhook = keyring_.webhook();
    return settings;
}

void AppDelegate::runAgent(bool delivery) {
    const auto& key = keyring_.deliveryKey();
    if (previewMode_ || running_ || !key || key->isEmpty()) {
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

    running_ = true;
    status_ = delivery ? QStringLiteral("Delivering your newspaper\u2026")
                       : QStringLiteral("Checking for a new issue\u2026");
    refreshMenu();

    inBackground(
        [settings, limit = toolStepTimeLimit_] {
            // Whatever happens, the run must end in a line, or it stays running for good.
            try {
                return performRun(settings, limit);
            } catch (const std::exception& error) {
                return QString::fromUtf8(error.what());
            }
        },
        [this](const QString& resultLine) { finishRun(resultLine); });
}

void AppDelegate::finishRun(const QString& resultLine) {
    running_ = false;
    status_ = leadingCharacters(resultLine, resultLineLimit);
    refreshMenu();
}

void AppDelegate::refreshMenu() {
    const bool connected = keyring_.deliveryKey().has_value();
    menu_.show({status_, running_, connected, cachedPDF().has_value()});
    form_.setStatus(status_);
    form_.setConnected(connected);
    form_.setWorking(working());
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
        if (!keyring_.webhook()) {
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
    settings_->present();
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
