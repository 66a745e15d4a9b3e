// The C entry of lib/quillo/libquillo-issue-check.so: the IssueCheck::Problem
// as a number, or -1 when the issue is valid.
#pragma once

#include <string_view>

namespace quillo::companion {

inline constexpr std::string_view issueCheckModule = "lib/quillo/libquillo-issue-check.so";
inline constexpr const char* issueCheckEntry = "quillo_check_issue";
using IssueCheckEntry = int(const char* pdf, int* pages, int* badPage);

} // namespace quillo::companion
