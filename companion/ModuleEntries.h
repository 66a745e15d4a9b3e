// The C entries of the tool's two modules under lib/quillo/. The tool opens
// each only for the step that needs it, so a check that finds nothing new
// loads neither MuPDF nor libcups and the libraries they bring.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillo::companion {

inline constexpr std::string_view issueCheckModule = "lib/quillo/libquillo-issue-check.so";
inline constexpr const char* issueCheckEntry = "quillo_check_issue";
// The IssueCheck::Problem as a number, or -1 when the issue is valid.
using IssueCheckEntry = int(const char* pdf, int* pages, int* badPage);

inline constexpr std::string_view printJobModule = "lib/quillo/libquillo-print-job.so";
inline constexpr const char* printJobEntry = "quillo_submit_print_job";
// 1 once CUPS took the job; 0 with CUPS's message in `message`.
using PrintJobEntry = int(const char* printer, const char* pdf, const char* title,
                          const char* pageRanges, char* message, std::size_t messageSize);

} // namespace quillo::companion
