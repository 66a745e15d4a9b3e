// The display frame drawn the plain way, to hold the renderer to: the front
// page drawn whole with MuPDF onto one white gray pixmap of the frame's size
// under the frame's matrix, the margins beside the media box white, then a
// threshold at 170. No display list, no bands, no decoding ahead.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillo::testing {

// Packed rows of width ÷ 8 bytes, the leftmost pixel in each byte's top bit,
// a set bit white; nothing when MuPDF cannot open or draw the front page.
std::optional<std::vector<unsigned char>> referenceFrame(const std::string& pdf, int width,
                                                         int height);

} // namespace quillo::testing
