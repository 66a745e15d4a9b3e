// The steps the tool runs through its modules (see ModuleEntries.h), found in
// the install tree beside it.
#pragma once

#include "kit/IssueCheck.h"

#include <filesystem>
#include <optional>
#include <string>
#include <variant>

namespace quillo::companion {

// The check's result, or the reader's message when the module is missing.
std::variant<IssueCheck::Result, std::string> checkIssue(const std::filesystem::path& pdf);

// One CUPS job; nothing once CUPS took it, else the reader's message.
std::optional<std::string> submitPrintJob(const std::string& printer,
                                          const std::filesystem::path& pdf,
                                          const std::string& title, const std::string& pageRanges);

} // namespace quillo::companion
