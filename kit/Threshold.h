// The frame's one bit a pixel: gray 170 and lighter is white.
#pragma once

#include <cstddef>

namespace quillo::kit {

// Where packed rows go, `stride` bytes apart: the leftmost pixel in each
// byte's top bit, a set bit white.
struct PackedRows {
    unsigned char* first;
    std::size_t stride;
};

// Thresholds `height` gray rows of `width` pixels, `grayStride` bytes apart,
// into `out`. The width is a multiple of 8.
void threshold(const unsigned char* gray, std::size_t grayStride, int width, int height,
               PackedRows out);

} // namespace quillo::kit
