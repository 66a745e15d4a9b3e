// The tool's cache of validated issues: one folder per service address and
// delivery key under ~/.config/quillo/feeds/, named by the feed key, holding
// <issue>.pdf files and latest.json, which points at the newest one.
#pragma once

#include "companion/Files.h"

#include <filesystem>
#include <optional>
#include <string>

namespace quillo::companion {

struct LatestPointer {
    std::string issue;
    std::filesystem::path pdf;
    std::string sha256;
    int pages = 0;

    friend bool operator==(const LatestPointer&, const LatestPointer&) = default;
};

// Issue files of this many issues are kept, the latest among them.
inline constexpr std::size_t keptIssues = 3;

std::filesystem::path feedDirectory(const std::filesystem::path& home, std::string_view address,
                                    std::string_view deliveryKey);

inline std::filesystem::path issuePdf(const std::filesystem::path& feed, const std::string& issue) {
    return feed / (issue + ".pdf");
}

// Removes what an interrupted earlier run of the tool left: its temporary
// files, never the agent's.
void removeLeftovers(const std::filesystem::path& feed);

std::optional<LatestPointer> readLatest(const std::filesystem::path& feed);

// Points latest.json at the issue, marks its PDF as the newest and removes the
// files of all but the newest kept issues.
FileError makeLatest(const std::filesystem::path& feed, const LatestPointer& latest);

} // namespace quillo::companion
