#include "companion/Records.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace quillo::companion {
namespace {

constexpr std::size_t recordLimit = std::size_t{1} << 20;
// Older entries go, so the file stays small; an issue comes back far less often.
constexpr std::size_t keptPrintedIssues = 500;

// The record's entries; nothing when it exists but cannot be read.
std::optional<std::vector<std::string>> lines(const std::filesystem::path& path) {
    auto text = readSmallFile(path, recordLimit);
    std::error_code error;
    if (!text && std::filesystem::exists(path, error)) {
        return std::nullopt;
    }
    std::vector<std::string> result;
    std::istringstream stream(text.value_or(""));
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty()) {
            result.push_back(line);
        }
    }
    return result;
}

std::string unreadable(const std::filesystem::path& path) {
    return "Could not read the record " + path.string();
}

FileError writeLines(const std::filesystem::path& path, const std::vector<std::string>& entries) {
    std::string text;
    for (const std::string& entry : entries) {
        text += entry + "\n";
    }
    return writeAtomically(path, text);
}

} // namespace

std::filesystem::path stateDirectory() {
    const char* state = std::getenv("XDG_STATE_HOME");
    const std::filesystem::path base =
        state != nullptr && state[0] == '/' ? state : homeDirectory() / ".local/state";
    return base / "quillo";
}

Records::Records() : directory_(stateDirectory()) {
    for (const char* folder : {"", "printed", "uploads"}) {
        if ((error_ = makePrivateDirectory(directory_ / folder))) {
            return;
        }
    }
    lock_ = std::make_unique<FileLock>(directory_ / ".lock");
    error_ = lock_->error();
}

std::optional<bool> Records::printed(const std::string& feedKey, const std::string& issue) const {
    const auto entries = lines(directory_ / "printed" / feedKey);
    if (!entries) {
        return std::nullopt;
    }
    return std::find(entries->begin(), entries->end(), issue) != entries->end();
}

FileError Records::markPrinted(const std::string& feedKey, const std::string& issue) {
    const auto path = directory_ / "printed" / feedKey;
    auto entries = lines(path);
    if (!entries) {
        return unreadable(path);
    }
    entries->push_back(issue);
    if (entries->size() > keptPrintedIssues) {
        entries->erase(entries->begin(), entries->end() - keptPrintedIssues);
    }
    return writeLines(path, *entries);
}

FileError Records::unmarkPrinted(const std::string& feedKey, const std::string& issue) {
    const auto path = directory_ / "printed" / feedKey;
    auto entries = lines(path);
    if (!entries) {
        return unreadable(path);
    }
    entries->erase(std::remove(entries->begin(), entries->end(), issue), entries->end());
    return writeLines(path, *entries);
}

bool Records::uploaded(const std::string& webhookKey, const std::string& issue,
                       const std::string& imageSha256) const {
    return lines(directory_ / "uploads" / webhookKey) ==
           std::optional<std::vector<std::string>>({issue, imageSha256});
}

FileError Records::markUploaded(const std::string& webhookKey, const std::string& issue,
                                const std::string& imageSha256) {
    return writeLines(directory_ / "uploads" / webhookKey, {issue, imageSha256});
}

} // namespace quillo::companion
