// What the application does at launch, decided from its arguments and the
// stored state, apart from the delegate that carries it out.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace quillo {

struct LaunchArguments {
    bool previewMode = false;
    bool showSettings = false;
    // The path after the first "--snapshot"; none when it is the last argument.
    std::optional<QString> snapshotPath;

    static LaunchArguments parse(const QStringList& arguments);
};

// What the launch found stored, and whether the desktop shows tray items.
struct LaunchState {
    bool didShowWelcome = false;
    std::optional<QString> authorizedBuild;
    QString fingerprint;
    bool trayAvailable = true;
};

struct LaunchPlan {
    // The welcome is recorded only when the launch rules open the window, not
    // when the window stands in for a missing tray.
    bool recordWelcome = false;
    bool showSettings = false;
    bool unlockSilently = false;
    // Preview mode only.
    std::optional<QString> snapshotPath;
};

// A build whose fingerprint could not be computed is never the authorized one.
bool isAuthorizedBuild(const std::optional<QString>& authorizedBuild, const QString& fingerprint);

LaunchPlan planLaunch(const LaunchArguments& arguments, const LaunchState& state);

} // namespace quillo
