#include "companion/FeedCache.h"

#include "companion/Service.h"
#include "kit/FeedKey.h"

#include <algorithm>
#include <fcntl.h>
#include <map>
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

// The issue a file belongs to: the longest known id that, followed by ".",
// starts its name (issue-12.pdf, issue-12.display.png).
const CachedIssue* ownerOf(const std::string& name, const std::vector<CachedIssue>& issues) {
    const CachedIssue* owner = nullptr;
    for (const CachedIssue& issue : issues) {
        if (name.size() > issue.id.size() && name.starts_with(issue.id) &&
            name[issue.id.size()] == '.' &&
            (owner == nullptr || issue.id.size() > owner->id.size())) {
            owner = &issue;
        }
    }
    return owner;
}

FileError removeOlderIssues(const std::filesystem::path& feed, const std::string& latest) {
    std::error_code error;
    std::vector<CachedIssue> issues;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(feed, error)) {
        const std::string name = entry.path().filename().string();
        // Dot files are the tool's own: temporary files and the lock.
        if (name.starts_with(".") || name == pointerName) {
            continue;
        }
        names.push_back(name);
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
    std::vector<CachedIssue> kept;
    const auto current = std::find_if(issues.begin(), issues.end(),
                                      [&](const CachedIssue& issue) { return issue.id == latest; });
    if (current != issues.end()) {
        kept.push_back(*current);
    }
    for (const CachedIssue& issue : issues) {
        if (static_cast<int>(kept.size()) < keptIssues && issue.id != latest) {
            kept.push_back(issue);
        }
    }
    bool removed = false;
    for (const std::string& name : names) {
        const CachedIssue* owner = ownerOf(name, issues);
        const bool keep =
            owner != nullptr &&
            std::any_of(kept.begin(), kept.end(), [&](const auto& k) { return k.id == owner->id; });
        if (!keep) {
            std::filesystem::remove(feed / name, error);
            removed = true;
        }
    }
    return removed ? syncDirectory(feed) : std::nullopt;
}

} // namespace

std::filesystem::path feedDirectory(const std::filesystem::path& home, std::string_view address,
                                    std::string_view token) {
    return home / ".config/quillo/feeds" / feedKey(address, token);
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
