#include "companion/Validation.h"

#include "companion/IssueCheckModule.h"

#include <dlfcn.h>
#include <system_error>

namespace quillo::companion {
namespace {

// libexec/quillo/quillo-print lies two folders below the install root.
std::filesystem::path installRoot() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : executable.parent_path().parent_path().parent_path();
}

} // namespace

std::variant<IssueCheck::Result, std::string> checkIssue(const std::filesystem::path& pdf) {
    const auto module = installRoot() / issueCheckModule;
    // Stays loaded until the process ends, a moment later.
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto* entry = handle != nullptr
                      ? reinterpret_cast<IssueCheckEntry*>(dlsym(handle, issueCheckEntry))
                      : nullptr;
    if (entry == nullptr) {
        return "The PDF checker of this installation is missing: " + module.string();
    }
    IssueCheck::Result result;
    const int problem = entry(pdf.c_str(), &result.pages, &result.badPage);
    if (problem >= 0) {
        result.problem = static_cast<IssueCheck::Problem>(problem);
    }
    return result;
}

} // namespace quillo::companion
