#pragma once

#include "kit/DeliveryKit.h"

#include <filesystem>

namespace quillo::DisplayRenderer {

// Renders the front page of an issue PDF into a 1-bit grayscale PNG of the
// model's exact size, mode 0600, replacing `to` atomically. Every page must be
// an unrotated 612 × 792 pt media box and the issue must have 1 to 4 pages.
// Throws DisplayError, or std::system_error when the file's mode cannot be set.
// Thread-safe: every call owns its own MuPDF context.
void render(const std::filesystem::path& pdf, const std::filesystem::path& to, DisplayModel model);

} // namespace quillo::DisplayRenderer
