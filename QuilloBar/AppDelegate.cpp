#include "QuilloBar/AppDelegate.h"

#include "QuilloBar/UserText.h"
#include "agent/IssueCache.h"
#include "store/InstallTree.h"
#include "store/Preferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>
#include <exception>

namespace quillo {
namespace {

// A run's result line is cut to this many user-perceived characters.
constexpr qsizetype resultLineLimit = 400;

AppDelegate::Setup productionSetup() {
    return {InstallTree::root(), QString(),
            QCoreApplication::arguments().contains(QStringLiteral("--preview-settings")),
            toolStepTimeLimit};
}

} // namespace

AppDelegate::AppDelegate(QObject* parent) : AppDelegate(productionSetup(), parent) {}

AppDelegate::AppDelegate(const Setup& setup, QObject* parent)
    : QObject(parent), status_(QStringLiteral("Connect your newspaper in Settings")),
      defaults_(setup.preferencesFile.isEmpty()
                    ? std::make_unique<Preferences>()
                    : std::make_unique<Preferences>(setup.preferencesFile)),
      previewMode_(setup.previewMode), installRoot_(setup.installRoot),
      toolStepTimeLimit_(setup.toolStepTimeLimit) {}

AppDelegate::~AppDelegate() = default;

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

    // The watcher dies with the delegate, so a run still in flight at exit is
    // simply abandoned.
    auto* watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher] {
        finishRun(watcher->result());
        watcher->deleteLater();
    });
    watcher->setFuture(QtConcurrent::run([settings, limit = toolStepTimeLimit_] {
        // Whatever happens, the run must end in a line, or busy stays set for good.
        try {
            return performRun(settings, limit);
        } catch (const std::exception& error) {
            return QString::fromUtf8(error.what());
        }
    }));
}

void AppDelegate::finishRun(const QString& resultLine) {
    busy_ = false;
    status_ = leadingCharacters(resultLine, resultLineLimit);
    refreshMenu();
}

void AppDelegate::refreshMenu() {
    emit statusChanged(status_);
}

} // namespace quillo
