// Writing a frame's PNG in place of an earlier one: through a temporary file
// of mode 0600 beside it, renamed over it once complete, so that a failed
// write leaves the earlier frame as it was and no one else can read the new.
#pragma once

#include "kit/OneBitPng.h"

#include <filesystem>

namespace quillo::kit {

// Throws `render` when the temporary file cannot be made, `save` when writing
// or renaming fails, and std::system_error when its mode cannot be set.
void writeFrame(const std::filesystem::path& to, int width, int height,
                const OneBitPng::Deflated& scanlines);

} // namespace quillo::kit
