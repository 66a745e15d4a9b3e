#include "kit/OneBitPng.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <zlib.h>

namespace quillo::OneBitPng {
namespace {

void putBigEndian(unsigned char* bytes, std::uint32_t value) {
    bytes[0] = static_cast<unsigned char>(value >> 24U);
    bytes[1] = static_cast<unsigned char>(value >> 16U);
    bytes[2] = static_cast<unsigned char>(value >> 8U);
    bytes[3] = static_cast<unsigned char>(value);
}

// Deflate (RFC 1951) with its fixed Huffman codes, which a 1-bit page suits:
// it is mostly rows that repeat the row above, long runs of one byte, and
// stretches that repeat the row above byte for byte. Finding just those takes
// a few instructions a byte, a fifth of what zlib's run-length search takes,
// for a file a few per cent larger.
struct Code {
    std::uint32_t bits; // least significant bit first, as the stream takes them
    std::uint32_t length;
};

constexpr std::uint32_t reversed(std::uint32_t code, std::uint32_t length) {
    std::uint32_t result = 0;
    for (std::uint32_t bit = 0; bit < length; ++bit) {
        result |= ((code >> bit) & 1U) << (length - 1 - bit);
    }
    return result;
}

// Literals 0-255, end of block 256, lengths 257-285.
constexpr Code fixedLiteralCode(std::uint32_t symbol) {
    if (symbol < 144) {
        return {reversed(0x30 + symbol, 8), 8};
    }
    if (symbol < 256) {
        return {reversed(0x190 + symbol - 144, 9), 9};
    }
    if (symbol < 280) {
        return {reversed(symbol - 256, 7), 7};
    }
    return {reversed(0xC0 + symbol - 280, 8), 8};
}

constexpr std::array<std::uint32_t, 29> lengthBase{3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                   15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                   67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint32_t, 29> lengthExtra{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint32_t, 30> distanceBase{
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint32_t, 30> distanceExtra{0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                      4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                      9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::uint32_t longestMatch = 258;
constexpr std::uint32_t shortestMatch = 3;
constexpr std::uint32_t endOfBlock = 256;

// The code of each match length with its extra bits, as one code.
constexpr std::array<Code, longestMatch + 1> lengthCodes = [] {
    std::array<Code, longestMatch + 1> codes{};
    for (std::uint32_t length = shortestMatch; length <= longestMatch; ++length) {
        std::uint32_t index = lengthBase.size() - 1;
        while (lengthBase.at(index) > length) {
            --index;
        }
        const Code code = fixedLiteralCode(257 + index);
        codes.at(length) = {code.bits | ((length - lengthBase.at(index)) << code.length),
                            code.length + lengthExtra.at(index)};
    }
    return codes;
}();

constexpr Code distanceCode(std::uint32_t distance) {
    std::uint32_t index = distanceBase.size() - 1;
    while (distanceBase.at(index) > distance) {
        --index;
    }
    return {reversed(index, 5) | ((distance - distanceBase.at(index)) << 5U),
            5 + distanceExtra.at(index)};
}

class BitWriter {
public:
    explicit BitWriter(unsigned char* out) : out_(out) {}

    void put(Code code) {
        pending_ |= std::uint64_t{code.bits} << filled_;
        filled_ += code.length;
        while (filled_ >= 8) {
            *out_++ = static_cast<unsigned char>(pending_);
            pending_ >>= 8U;
            filled_ -= 8;
        }
    }
    void literal(unsigned char byte) { put(literalCodes[byte]); }
    void endBlock() { put(literalCodes[endOfBlock]); }
    // `length` bytes as they were `distance` bytes back, in pieces a match
    // can hold.
    void match(std::size_t length, Code distance) {
        while (length > 0) {
            std::size_t piece = std::min<std::size_t>(length, longestMatch);
            if (length - piece != 0 && length - piece < shortestMatch) {
                piece = length - shortestMatch;
            }
            put(lengthCodes.at(piece));
            put(distance);
            length -= piece;
        }
    }
    void alignToByte() {
        if (filled_ != 0) {
            put({0, 8 - filled_});
        }
    }
    [[nodiscard]] unsigned char* end() const { return out_; }

    static constexpr std::array<Code, 257> literalCodes = [] {
        std::array<Code, 257> codes{};
        for (std::uint32_t symbol = 0; symbol <= endOfBlock; ++symbol) {
            codes.at(symbol) = fixedLiteralCode(symbol);
        }
        return codes;
    }();

private:
    unsigned char* out_;
    std::uint64_t pending_ = 0;
    std::uint32_t filled_ = 0;
};

// How many of the first `limit` bytes of `a` and `b` agree: eight at a time,
// then byte by byte from the word that differs.
std::size_t sameBytes(const unsigned char* a, const unsigned char* b, std::size_t limit) {
    std::size_t count = 0;
    for (; count + 8 <= limit; count += 8) {
        std::uint64_t left = 0;
        std::uint64_t right = 0;
        std::memcpy(&left, a + count, 8);
        std::memcpy(&right, b + count, 8);
        if (left != right) {
            break;
        }
    }
    while (count < limit && a[count] == b[count]) {
        ++count;
    }
    return count;
}

// How many of the first `limit` bytes are the first byte, counted the same way.
std::size_t runLength(const unsigned char* bytes, std::size_t limit) {
    const std::uint64_t repeated = bytes[0] * 0x0101010101010101ULL;
    std::size_t count = 1;
    for (; count + 8 <= limit; count += 8) {
        std::uint64_t next = 0;
        std::memcpy(&next, bytes + count, 8);
        if (next != repeated) {
            break;
        }
    }
    while (count < limit && bytes[count] == bytes[0]) {
        ++count;
    }
    return count;
}

// One row: a run of four or more bytes is a literal and a match one byte
// back; three or more bytes like the row above's are a match one row back.
void deflateRow(BitWriter& out, const unsigned char* row, const unsigned char* above,
                std::size_t length, Code rowBack, Code byteBack) {
    std::size_t at = 0;
    while (at < length) {
        const std::size_t run = runLength(row + at, length - at);
        const std::size_t same =
            above != nullptr ? sameBytes(row + at, above + at, length - at) : 0;
        if (same >= shortestMatch && same >= run) {
            out.match(same, rowBack);
            at += same;
        } else if (run > shortestMatch) {
            out.literal(row[at]);
            out.match(run - 1, byteBack);
            at += run;
        } else {
            out.literal(row[at]);
            ++at;
        }
    }
}

// A chunk: length, type, data, and the CRC of type and data.
class Chunk {
public:
    Chunk(std::FILE* file, const char* type, std::size_t length) : file_(file) {
        std::array<unsigned char, 8> head{};
        putBigEndian(head.data(), static_cast<std::uint32_t>(length));
        std::memcpy(head.data() + 4, type, 4);
        crc_ = crc32(0, head.data() + 4, 4);
        ok_ = std::fwrite(head.data(), 1, head.size(), file_) == head.size();
    }
    void add(const unsigned char* bytes, std::size_t length) {
        crc_ = crc32_z(crc_, bytes, length);
        ok_ = ok_ && std::fwrite(bytes, 1, length, file_) == length;
    }
    bool end() {
        std::array<unsigned char, 4> crc{};
        putBigEndian(crc.data(), static_cast<std::uint32_t>(crc_));
        return ok_ && std::fwrite(crc.data(), 1, crc.size(), file_) == crc.size();
    }

private:
    std::FILE* file_;
    uLong crc_ = 0;
    bool ok_ = false;
};

} // namespace

bool compress(const unsigned char* scanlines, std::size_t length, std::size_t rowLength,
              Deflated& deflated) {
    if (rowLength == 0 || rowLength > 32768 || length % rowLength != 0) {
        return false;
    }
    // Nine bits a byte at most, as literals; a match takes fewer.
    const std::size_t capacity = length / 8 * 9 + 64;
    deflated.bytes = std::make_unique_for_overwrite<unsigned char[]>(capacity);
    BitWriter out(deflated.bytes.get());
    // One block of fixed codes, the last: its last bit, then its type, 1.
    out.put({(1U << 1U) | 1U, 3});
    const Code rowBack = distanceCode(static_cast<std::uint32_t>(rowLength));
    const Code byteBack = distanceCode(1);
    const unsigned char* above = nullptr;
    for (const unsigned char* row = scanlines; row != scanlines + length; row += rowLength) {
        if (above != nullptr && rowLength >= shortestMatch &&
            std::memcmp(row, above, rowLength) == 0) {
            out.match(rowLength, rowBack);
        } else {
            deflateRow(out, row, above, rowLength, rowBack, byteBack);
        }
        above = row;
    }
    out.endBlock();
    out.alignToByte();
    deflated.size = static_cast<std::size_t>(out.end() - deflated.bytes.get());
    deflated.adler = static_cast<std::uint32_t>(adler32_z(1, scanlines, length));
    return true;
}

bool write(std::FILE* file, int width, int height, const Deflated& deflated) {
    static constexpr std::array<unsigned char, 8> signature{0x89, 'P',  'N',  'G',
                                                            '\r', '\n', 0x1A, '\n'};
    if (std::fwrite(signature.data(), 1, signature.size(), file) != signature.size()) {
        return false;
    }
    // Width, height, bit depth 1, colour type 0 (gray), deflate, no filter
    // choice, no interlace.
    std::array<unsigned char, 13> header{0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    putBigEndian(header.data(), static_cast<std::uint32_t>(width));
    putBigEndian(header.data() + 4, static_cast<std::uint32_t>(height));
    Chunk ihdr(file, "IHDR", header.size());
    ihdr.add(header.data(), header.size());
    if (!ihdr.end()) {
        return false;
    }

    // One zlib stream: its header (deflate, 32 KiB window, fastest level),
    // the deflated scanlines, and their Adler-32.
    static constexpr std::array<unsigned char, 2> zlibHeader{0x78, 0x01};
    std::array<unsigned char, 4> trailer{};
    putBigEndian(trailer.data(), deflated.adler);
    Chunk idat(file, "IDAT", zlibHeader.size() + deflated.size + trailer.size());
    idat.add(zlibHeader.data(), zlibHeader.size());
    idat.add(deflated.bytes.get(), deflated.size);
    idat.add(trailer.data(), trailer.size());
    return idat.end() && Chunk(file, "IEND", 0).end();
}

} // namespace quillo::OneBitPng
