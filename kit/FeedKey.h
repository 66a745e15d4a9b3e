// The name of a feed's cache folder: one folder per service origin and
// delivery key, and the key never appears in a path. The agent's cache lookup
// and the companion tool both call this, so they always agree.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// The text without its leading and trailing "/" (white space is kept): an
// origin as the feed key and the settings window take it.
std::string_view withoutSurroundingSlashes(std::string_view text);

// Lowercase hex SHA-256 of the origin without its surrounding slashes, a line
// feed, and the delivery key, all UTF-8.
std::string feedKey(std::string_view origin, std::string_view deliveryKey);

} // namespace quillo
