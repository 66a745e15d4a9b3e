// Validates a downloaded issue before it is kept: a PDF that opens without
// repair, with 1 to 4 pages, each US Letter (612 × 792 pt, within 1 pt) as
// shown, that is after its rotation. Independent of the display renderer,
// whose own page checks are stricter.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace quillo::IssueCheck {

enum class Problem : std::uint8_t {
    // Not a PDF, damaged so that it needs repair, or locked by a password.
    unreadable,
    pageCount,
    pageSize,
};

struct Result {
    // The page count when the document could be read.
    int pages = 0;
    std::optional<Problem> problem;
    // The first page (1-based) of the wrong size.
    int badPage = 0;
};

inline constexpr int maximumPages = 4;

// Thread-safe: every call owns its own MuPDF context.
Result check(const std::filesystem::path& pdf);

} // namespace quillo::IssueCheck
