#include "QuilloBar/app/Launch.h"

namespace quillo {

LaunchArguments LaunchArguments::parse(const QStringList& arguments) {
    LaunchArguments parsed;
    parsed.previewMode = arguments.contains(QStringLiteral("--preview-settings"));
    parsed.showSettings = arguments.contains(QStringLiteral("--show-settings"));
    const qsizetype snapshot = arguments.indexOf(QStringLiteral("--snapshot"));
    if (snapshot >= 0 && snapshot + 1 < arguments.size()) {
        parsed.snapshotPath = arguments[snapshot + 1];
    }
    return parsed;
}

bool isAuthorizedBuild(const std::optional<QString>& authorizedBuild, const QString& fingerprint) {
    return !fingerprint.isEmpty() && authorizedBuild == fingerprint;
}

LaunchPlan planLaunch(const LaunchArguments& arguments, const LaunchState& state) {
    LaunchPlan plan;
    if (arguments.previewMode) {
        plan.showSettings = true;
        plan.snapshotPath = arguments.snapshotPath;
        return plan;
    }
    const bool authorized = isAuthorizedBuild(state.authorizedBuild, state.fingerprint);
    plan.recordWelcome = arguments.showSettings || !state.didShowWelcome || !authorized;
    plan.showSettings = plan.recordWelcome || !state.trayAvailable;
    plan.unlockSilently = authorized;
    return plan;
}

} // namespace quillo
