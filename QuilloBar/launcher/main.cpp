#include "QuilloBar/launcher/Module.h"
#include "QuilloBar/launcher/RenderMode.h"
#include "kit/NoCoreDumps.h"
#include "store/InstallTree.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace {

bool hasArgument(int argc, char** argv, std::string_view flag) {
    return std::any_of(argv, argv + argc, [flag](const char* argument) {
        return argument != nullptr && flag == argument;
    });
}

constexpr const char* usage =
    "Usage: quillo-bar [--show-settings]\n"
    "       quillo-bar --preview-settings [--snapshot PATH]\n"
    "       quillo-bar --render-display-stdin < request.json\n"
    "       quillo-bar --configure-stdin < request.json\n"
    "\n"
    "Without a mode, Quillo starts in the tray and delivers your newspaper; started\n"
    "again, it brings up the settings window of the Quillo that runs. The two\n"
    "modes on standard input are for scripts and installers. See man quillo-bar.\n";

int runConfigureMode() {
    quillo::Module module(quillo::InstallTree::configureModule);
    auto* entry = module.entry<int()>("quilloRunConfigureMode");
    if (entry == nullptr) {
        std::fputs("Could not configure Quillo.\n", stderr);
        return 1;
    }
    module.keepLoaded();
    return entry();
}

int runApplication(int argc, char** argv) {
    quillo::Module module(quillo::InstallTree::applicationModule);
    auto* entry = module.entry<int(int, char**)>("quilloRunApplication");
    if (entry == nullptr) {
        std::fprintf(stderr, "Quillo could not start: %s\n", module.error().c_str());
        return 1;
    }
    module.keepLoaded();
    return entry(argc, argv);
}

} // namespace

int main(int argc, char** argv) {
    // Before any mode reads a key, a webhook or an issue.
    quillo::disableCoreDumps();
    // Modules and the companion tool are found from the install root; without
    // it they would be looked up relative to wherever the program was started.
    if (quillo::InstallTree::root().empty()) {
        std::fputs("Quillo cannot find its install folder: /proc/self/exe is unreadable.\n",
                   stderr);
        return 1;
    }
    if (hasArgument(argc, argv, "--render-display-stdin")) {
        return quillo::runRenderMode();
    }
    if (hasArgument(argc, argv, "--configure-stdin")) {
        return runConfigureMode();
    }
    if (hasArgument(argc, argv, "--help")) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (hasArgument(argc, argv, "--version")) {
        std::puts("quillo-bar " QUILLO_VERSION);
        return 0;
    }
    return runApplication(argc, argv);
}
