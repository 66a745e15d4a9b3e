// Entry of the application module, loaded by the executable only in
// application mode.
#include "QuilloBar/app/AppDelegate.h"
#include "QuilloBar/app/Launch.h"
#include "QuilloBar/desktop/Appearance.h"
#include "QuilloBar/desktop/SingleInstance.h"
#include "store/InstallTree.h"
#include "store/Preferences.h"

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Starts this program again in this process, with the arguments it was given
// (Qt removes its own from the ones it reports), showing the settings window
// again when it was open. Returns only when that fails.
void restartInPlace(std::vector<std::string> arguments, bool showSettings) {
    const std::string executable =
        (quillo::InstallTree::root() / quillo::InstallTree::executable).string();
    if (showSettings &&
        std::find(arguments.begin(), arguments.end(), "--show-settings") == arguments.end()) {
        arguments.emplace_back("--show-settings");
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::fflush(nullptr);
    ::execv(executable.c_str(), argv.data());
}

// The agent speaks through its status line; Qt's own diagnostics (a missing
// runtime folder, an offscreen platform that cannot raise windows) would only
// fill the session's log. Fatal ones still say why the program stops.
void quietQtMessages(QtMsgType type, const QMessageLogContext& /*context*/,
                     const QString& message) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
    }
}

// The token the desktop gave this launch to bring a window forward, read
// before Qt's X11 plugin takes DESKTOP_STARTUP_ID out of the environment.
QByteArray launchActivationToken() {
    const QByteArray wayland = qgetenv("XDG_ACTIVATION_TOKEN");
    return wayland.isEmpty() ? qgetenv("DESKTOP_STARTUP_ID") : wayland;
}

} // namespace

extern "C" Q_DECL_EXPORT int quilloRunApplication(int argc, char** argv) {
    const std::vector<std::string> processArguments(argv, argv + argc);
    const QByteArray activationToken = launchActivationToken();
    qInstallMessageHandler(quietQtMessages);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillo"));
    // The launcher's name: the Wayland app id and the window's link to its
    // desktop entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("news.quillo.QuilloBar"));
    QApplication::setQuitOnLastWindowClosed(false);
    quillo::DesktopAppearance appearance;
    appearance.follow();

    const auto arguments = quillo::LaunchArguments::parse(QCoreApplication::arguments());
    // Preview mode runs beside the agent and never speaks to it.
    quillo::SingleInstance instance(quillo::SingleInstance::defaultDirectory());
    if (!arguments.previewMode) {
        switch (instance.claim(arguments.showSettings, activationToken)) {
        case quillo::SingleInstance::Role::reopened:
            return 0;
        case quillo::SingleInstance::Role::unanswered:
            std::fputs("Quillo is already running but does not answer.\n", stderr);
            return 1;
        case quillo::SingleInstance::Role::primary:
        case quillo::SingleInstance::Role::alone:
            break;
        }
    }

    quillo::AppDelegate delegate;
    QObject::connect(&instance, &quillo::SingleInstance::reopenRequested, &delegate,
                     [&delegate](bool /*showSettings*/, const QByteArray& token) {
                         delegate.applicationShouldHandleReopen(token);
                     });
    QObject::connect(&delegate, &quillo::AppDelegate::restartRequested, &delegate,
                     [&](bool settingsVisible) {
                         instance.release();
                         restartInPlace(processArguments, settingsVisible);
                         // Could not start again: carry on without a tray item.
                         if (instance.claim(false) == quillo::SingleInstance::Role::primary) {
                             instance.serve();
                         }
                     });
    delegate.applicationDidFinishLaunching();
    // Served once launched, so a reopen always finds the settings ready to show.
    instance.serve();
    const int status = QApplication::exec();

    instance.release();
    // A run or a keyring read still out is abandoned rather than awaited:
    // QApplication's teardown would wait for the thread pool, and a tool step
    // may take minutes. A companion tool already started finishes on its own.
    if (delegate.hasWorkInFlight()) {
        delegate.defaults().sync();
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
