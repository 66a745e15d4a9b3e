#include "companion/Modules.h"

#include "companion/ModuleEntries.h"

#include <array>
#include <dlfcn.h>
#include <system_error>

namespace quillo::companion {
namespace {

// The entry, or nothing when the module or the entry is missing. A module
// stays loaded until the process ends, a moment later.
template <typename Entry> Entry* entry(std::string_view module, const char* name) {
    std::error_code error;
    // libexec/quillo/quillo-print lies two folders below the install root.
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    const auto path = executable.parent_path().parent_path().parent_path() / module;
    void* handle = error ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    return handle != nullptr ? reinterpret_cast<Entry*>(dlsym(handle, name)) : nullptr;
}

std::string missing(std::string_view module) {
    return "This installation of quillo-print lacks " + std::string(module);
}

} // namespace

std::variant<IssueCheck::Result, std::string> checkIssue(const std::filesystem::path& pdf) {
    auto* check = entry<IssueCheckEntry>(issueCheckModule, issueCheckEntry);
    if (check == nullptr) {
        return missing(issueCheckModule);
    }
    IssueCheck::Result result;
    const int problem = check(pdf.c_str(), &result.pages, &result.badPage);
    if (problem >= 0) {
        result.problem = static_cast<IssueCheck::Problem>(problem);
    }
    return result;
}

std::optional<std::string> submitPrintJob(const std::string& printer,
                                          const std::filesystem::path& pdf,
                                          const std::string& title, const std::string& pageRanges) {
    auto* submit = entry<PrintJobEntry>(printJobModule, printJobEntry);
    if (submit == nullptr) {
        return missing(printJobModule);
    }
    std::array<char, 512> message{};
    if (submit(printer.c_str(), pdf.c_str(), title.c_str(), pageRanges.c_str(), message.data(),
               message.size()) == 1) {
        return std::nullopt;
    }
    return std::string(message.data());
}

} // namespace quillo::companion
