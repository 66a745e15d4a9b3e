#include "companion/FeedCache.h"

#include "companion/Service.h"
#include "kit/FeedKey.h"

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <vector>

namespace quillo::companion {
namespace {

constexpr std::string_view pointerName = "latest.json";

struct CachedIssue {
    std::string id;
    timespec modified{};
};

bool newerFirst(const CachedIssue& a, const CachedIssue& b) {
    if (a.modified.tv_sec != b.modified.tv_sec) {
        return a.modified.tv_sec > b.modified.tv_sec;
    }
    if (a.modified.tv_nsec != b.modified.tv_nsec) {
        return a.modified.tv_nsec > b.modified.tv_nsec;
    }
    return a.id > b.id;
}

// The files of an issue: its PDF, and the agent's frame and preview beside it.
constexpr std::array<std::string_view, 3> issueFileEndings{".pdf", ".display.png", ".preview.png"};

FileError removeOlderIssues(const std::filesystem::path& feed, const std::string& latest) {
    std::error_code error;
    std::vector<CachedIssue> issues;
    for (const auto& entry : std::filesystem::directory_iterator(feed, error)) {
        const std::string name = entry.path().filename().string();
        struct stat status {};
        const std::string id = name.ends_with(".pdf") ? name.substr(0, name.size() - 4) : "";
        if (isIssueId(id) && ::lstat(entry.path().c_str(), &status) == 0 &&
            S_ISREG(status.st_mode)) {
            issues.push_back({id, status.st_mtim});
        }
    }
    if (error) {
        return "Could not list the issue cache: " + error.message();
    }
    std::sort(issues.begin(), issues.end(), newerFirst);
    // The latest first, then the newest others.
    std::stable_partition(issues.begin(), issues.end(),
                          [&](const CachedIssue& issue) { return issue.id == latest; });
    if (issues.size() <= keptIssues) {
        return std::nullopt;
    }
    // Only names the tool and the agent made: anything else in the folder stays.
    for (auto older = issues.begin() + keptIssues; older != issues.end(); ++older) {
        for (const std::string_view ending : issueFileEndings) {
            std::filesystem::remove(feed / (older->id + std::string(ending)), error);
        }
    }
    return syncDirectory(feed);
}

} // namespace

std::filesystem::path feedDirectory(const std::filesystem::path& home, std::string_view address,
                                    std::string_view deliveryKey) {
    return home / ".config/quillo/feeds" / feedKey(address, deliveryKey);
}

void removeLeftovers(const std::filesystem::path& feed) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(feed, error)) {
        const std::string name = entry.path().filename().string();
        // Only the tool's own temporary names: the agent writes its frames
        // through temporary files beside the issues too.
        if (name.starts_with(".download-") || name.starts_with(".latest.json.")) {
            std::filesystem::remove(entry.path(), error);
        }
    }
}

std::optional<LatestPointer> readLatest(const std::filesystem::path& feed) {
    const auto text = readSmallFile(feed / pointerName, std::size_t{64} << 10);
    if (!text) {
        return std::nullopt;
    }
    const auto json = nlohmann::json::parse(*text, nullptr, false);
    if (!json.is_object()) {
        return std::nullopt;
    }
    LatestPointer pointer;
    try {
        pointer = {json.at("issue").get<std::string>(), json.at("pdf").get<std::string>(),
                   json.at("sha256").get<std::string>(), json.at("pages").get<int>()};
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
    return pointer;
}

FileError makeLatest(const std::filesystem::path& feed, const LatestPointer& latest) {
    // The newest issue is the one made latest most recently.
    if (::utimensat(AT_FDCWD, latest.pdf.c_str(), nullptr, 0) != 0) {
        return systemFailure("mark issue " + latest.issue + " as the newest");
    }
    const nlohmann::ordered_json pointer = {{"issue", latest.issue},
                                            {"pdf", latest.pdf.string()},
                                            {"sha256", latest.sha256},
                                            {"pages", latest.pages}};
    std::string text;
    try {
        text = pointer.dump() + "\n";
    } catch (const nlohmann::json::exception&) {
        return std::string("The issue cache's path is not valid UTF-8");
    }
    if (auto error = writeAtomically(feed / pointerName, text)) {
        return error;
    }
    return removeOlderIssues(feed, latest.issue);
}

} // namespace quillo::companion
