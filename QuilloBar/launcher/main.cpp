#include "QuilloBar/launcher/Module.h"
#include "QuilloBar/launcher/RenderMode.h"
#include "store/InstallTree.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <sys/prctl.h>
#include <sys/resource.h>

namespace {

bool hasArgument(int argc, char** argv, std::string_view flag) {
    return std::any_of(argv, argv + argc, [flag](const char* argument) {
        return argument != nullptr && flag == argument;
    });
}

// Before any mode reads a key, a webhook or an issue: a crash leaves no core
// file holding them, and no other process of the reader may trace this one.
// The tool and the renderer inherit the zero core size.
void disableCoreDumps() {
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
}

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
    disableCoreDumps();
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
    return runApplication(argc, argv);
}
