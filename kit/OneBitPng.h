// 1-bit grayscale PNG files, compressed in independent pieces: the bands of a
// frame are compressed on the threads that drew them and written as one image.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace quillo::OneBitPng {

// Consecutive rows of the image as part of its one zlib stream: raw deflate
// ending on a byte boundary, and the end of the stream in the last piece.
struct Piece {
    std::vector<unsigned char> deflated;
    std::uint32_t adler = 1;   // Adler-32 of the piece's scanlines
    std::size_t scanlines = 0; // their length in bytes
};

// Compresses `count` rows of `rowBytes` packed bytes each (the leftmost pixel
// in each byte's top bit, a set bit white). False when zlib fails.
bool compress(const unsigned char* rows, std::size_t rowBytes, int count, bool last, Piece& piece);

// Writes the image, its pieces in order. False when writing fails.
bool write(std::FILE* file, int width, int height, const std::vector<Piece>& pieces);

} // namespace quillo::OneBitPng
