// What the delegate opens or asks on the desktop: the cached issue, its
// display preview, the site and guides, and the print queues.

#include "QuilloBar/app/AppDelegate.h"
#include "QuilloBar/app/AppDelegateInternal.h"
#include "QuilloBar/settings/Questions.h"
#include "QuilloBar/settings/SettingsRules.h"
#include "store/InstallTree.h"
#include "store/Preferences.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <optional>

namespace quillo {
namespace {

const QString displayGuide =
    QStringLiteral("https://docs.usetrmnl.com/go/private-plugins/webhooks");
const QString cupsPrinters = QStringLiteral("http://localhost:631/printers/");

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

AppDelegate::Desktop systemDesktop() {
    return {[](const QUrl& url) { QDesktopServices::openUrl(url); },
            [](const QString& program) { QProcess::startDetached(program, {}); },
            askBeforeDelivering};
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
    const QString image = previewFramePath(*pdf);
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

} // namespace quillo
