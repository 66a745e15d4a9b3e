#include "QuilloBar/HeadlessModes.h"
#include "store/InstallTree.h"

#include <algorithm>
#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <string_view>

namespace {

bool hasArgument(int argc, char** argv, std::string_view flag) {
    return std::any_of(argv, argv + argc, [flag](const char* argument) {
        return argument != nullptr && flag == argument;
    });
}

// The tray application lives in a module of its own, so the headless modes
// never load Qt Widgets, Gui or their platform plugins.
int runApplication(int argc, char** argv) {
    const auto modulePath = quillo::InstallTree::root() / quillo::InstallTree::applicationModule;
    void* module = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "Quillo could not start: %s\n", dlerror());
        return 1;
    }
    using Entry = int (*)(int, char**);
    auto entry = reinterpret_cast<Entry>(dlsym(module, "quilloRunApplication"));
    if (entry == nullptr) {
        std::fprintf(stderr, "Quillo could not start: %s\n", dlerror());
        return 1;
    }
    // The module stays loaded until the process exits: Qt's own exit handlers
    // may still run code from it.
    return entry(argc, argv);
}

} // namespace

int main(int argc, char** argv) {
    if (hasArgument(argc, argv, "--render-display-stdin")) {
        return quillo::runRenderMode();
    }
    if (hasArgument(argc, argv, "--configure-stdin")) {
        return quillo::runConfigureMode();
    }
    return runApplication(argc, argv);
}
