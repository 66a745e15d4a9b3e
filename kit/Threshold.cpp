#include "kit/Threshold.h"

#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillo::kit {
namespace {

constexpr unsigned char whiteThreshold = 170;

using BitReversal = std::array<unsigned char, 256>;

constexpr BitReversal makeBitReversal() {
    BitReversal table{};
    for (unsigned value = 0; value < 256; ++value) {
        unsigned reversed = 0;
        for (unsigned bit = 0; bit < 8; ++bit) {
            reversed |= ((value >> bit) & 1U) << (7 - bit);
        }
        table[value] = static_cast<unsigned char>(reversed);
    }
    return table;
}

constexpr BitReversal bitReversal = makeBitReversal();

// One pass over the gray rows: a pixel of 170 or more is white (bit set), the
// leftmost pixel of each byte its most significant bit.
void thresholdRow(const unsigned char* gray, unsigned char* packed, int width) {
    int x = 0;
#if defined(__SSE2__)
    const __m128i threshold = _mm_set1_epi8(static_cast<char>(whiteThreshold));
    for (; x + 16 <= width; x += 16) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gray + x));
        const __m128i white = _mm_cmpeq_epi8(_mm_max_epu8(pixels, threshold), pixels);
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(white));
        packed[x / 8] = bitReversal[mask & 0xFFU];
        packed[x / 8 + 1] = bitReversal[mask >> 8];
    }
#endif
    for (; x < width; x += 8) {
        unsigned char byte = 0;
        for (int bit = 0; bit < 8; ++bit) {
            if (gray[x + bit] >= whiteThreshold) {
                byte |= static_cast<unsigned char>(0x80U >> bit);
            }
        }
        packed[x / 8] = byte;
    }
}

} // namespace

void threshold(const unsigned char* gray, std::size_t grayStride, int width, int height,
               PackedRows out) {
    for (int y = 0; y < height; ++y) {
        thresholdRow(gray + static_cast<std::size_t>(y) * grayStride,
                     out.first + static_cast<std::size_t>(y) * out.stride, width);
    }
}

} // namespace quillo::kit
