// Validates an issue PDF through the issue check module (see
// IssueCheckModule.h), found in the install tree beside the tool.
#pragma once

#include "kit/IssueCheck.h"

#include <filesystem>
#include <string>
#include <variant>

namespace quillo::companion {

// The check's result, or the reader's message when the module is missing.
std::variant<IssueCheck::Result, std::string> checkIssue(const std::filesystem::path& pdf);

} // namespace quillo::companion
