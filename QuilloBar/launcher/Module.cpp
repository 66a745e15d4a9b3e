#include "QuilloBar/launcher/Module.h"

#include "store/InstallTree.h"

#include <dlfcn.h>

namespace quillo {

Module::Module(std::string_view relativePath, Binding binding) {
    const auto root = InstallTree::root();
    if (root.empty()) {
        error_ = "the install folder cannot be found";
        return;
    }
    const auto path = root / relativePath;
    handle_ = dlopen(path.c_str(), (binding == Binding::lazy ? RTLD_LAZY : RTLD_NOW) | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* reason = dlerror();
        error_ = reason != nullptr ? reason : path.string();
    }
}

Module::~Module() {
    if (handle_ != nullptr && !keepLoaded_) {
        dlclose(handle_);
    }
}

void* Module::lookUp(const char* name) {
    if (handle_ == nullptr) {
        return nullptr;
    }
    void* symbol = dlsym(handle_, name);
    if (symbol == nullptr) {
        const char* reason = dlerror();
        error_ = reason != nullptr ? reason : name;
    }
    return symbol;
}

} // namespace quillo
