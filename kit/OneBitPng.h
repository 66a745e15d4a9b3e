// 1-bit grayscale PNG files: a frame's scanlines compressed by the kit's own
// deflate, then written as one image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace quillo::OneBitPng {

// The image's scanlines as raw deflate, the body of its one zlib stream.
struct Deflated {
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t size = 0;    // bytes used in `bytes`
    std::uint32_t adler = 1; // Adler-32 of the scanlines
};

// The bytes of one scanline: the filter type, then the packed pixels.
constexpr std::size_t scanlineLength(int width) {
    return 1 + static_cast<std::size_t>(width) / 8;
}

// Compresses `length` bytes of whole scanlines of `rowLength` bytes, each a
// filter type of None (0) and the row's packed bytes (the leftmost pixel in
// each byte's top bit, a set bit white). False when the rows do not fit.
bool compress(const unsigned char* scanlines, std::size_t length, std::size_t rowLength,
              Deflated& deflated);

// Writes the image. False when writing fails.
bool write(std::FILE* file, int width, int height, const Deflated& deflated);

} // namespace quillo::OneBitPng
