// 1-bit grayscale PNG files, compressed in independent pieces: the bands of a
// frame are compressed on the threads that drew them and written as one image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace quillo::OneBitPng {

// Consecutive rows of the image as part of its one zlib stream: raw deflate
// ending on a byte boundary, and the end of the stream in the last piece.
struct Piece {
    std::unique_ptr<unsigned char[]> deflated;
    std::size_t size = 0;      // bytes used in `deflated`
    std::uint32_t adler = 1;   // Adler-32 of the piece's scanlines
    std::size_t scanlines = 0; // their length in bytes
};

// The bytes of one scanline: the filter type, then the packed pixels.
constexpr std::size_t scanlineLength(int width) {
    return 1 + static_cast<std::size_t>(width) / 8;
}

// Compresses `length` bytes of whole scanlines of `rowLength` bytes, each a
// filter type of None (0) and the row's packed bytes (the leftmost pixel in
// each byte's top bit, a set bit white). False when the rows do not fit.
bool compress(const unsigned char* scanlines, std::size_t length, std::size_t rowLength, bool last,
              Piece& piece);

// Writes the image, its pieces in order. False when writing fails.
bool write(std::FILE* file, int width, int height, const std::vector<Piece>& pieces);

} // namespace quillo::OneBitPng
