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

struct Deflater {
    z_stream stream{};
    bool ready = false;
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    Deflater() {
        // A 1-bit page is mostly long runs of white bytes: run-length
        // matching compresses it about as well as the default search, in a
        // fraction of the time. It looks one byte back only, so a small
        // window and hash table do (they cost a band fresh memory), though
        // not the smallest: each slide of the window walks the hash table.
        ready = deflateInit2(&stream, 1, Z_DEFLATED, -13, 6, Z_RLE) == Z_OK;
    }
    ~Deflater() {
        if (ready) {
            deflateEnd(&stream);
        }
    }
};

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

bool compress(const unsigned char* scanlines, std::size_t length, bool last, Piece& piece) {
    Deflater deflater;
    if (!deflater.ready) {
        return false;
    }
    // A frame compresses to a small part of its scanlines; the output grows
    // when it does not.
    std::size_t capacity = std::max<std::size_t>(length / 8, 4096);
    piece.deflated = std::make_unique_for_overwrite<unsigned char[]>(capacity);
    z_stream& stream = deflater.stream;
    stream.next_in = const_cast<unsigned char*>(scanlines);
    stream.avail_in = static_cast<uInt>(length);
    stream.next_out = piece.deflated.get();
    stream.avail_out = static_cast<uInt>(capacity);
    // A sync flush ends a piece on a byte boundary, where the next one goes on.
    const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        const int outcome = deflate(&stream, flush);
        if (outcome == Z_STREAM_END || (!last && outcome == Z_OK && stream.avail_out != 0)) {
            break;
        }
        if (outcome != Z_OK && outcome != Z_BUF_ERROR) {
            return false;
        }
        auto grown = std::make_unique_for_overwrite<unsigned char[]>(capacity * 2);
        std::memcpy(grown.get(), piece.deflated.get(), capacity);
        piece.deflated = std::move(grown);
        stream.next_out = piece.deflated.get() + capacity;
        stream.avail_out = static_cast<uInt>(capacity);
        capacity *= 2;
    }
    if (stream.avail_in != 0) {
        return false;
    }
    piece.size = stream.total_out;
    piece.adler = static_cast<std::uint32_t>(adler32_z(1, scanlines, length));
    piece.scanlines = length;
    return true;
}

bool write(std::FILE* file, int width, int height, const std::vector<Piece>& pieces) {
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
    // the pieces, and the Adler-32 of all scanlines.
    static constexpr std::array<unsigned char, 2> zlibHeader{0x78, 0x01};
    std::size_t length = zlibHeader.size() + 4;
    uLong adler = 1;
    for (const Piece& piece : pieces) {
        length += piece.size;
        adler = adler32_combine(adler, piece.adler, static_cast<z_off_t>(piece.scanlines));
    }
    std::array<unsigned char, 4> trailer{};
    putBigEndian(trailer.data(), static_cast<std::uint32_t>(adler));
    Chunk idat(file, "IDAT", length);
    idat.add(zlibHeader.data(), zlibHeader.size());
    for (const Piece& piece : pieces) {
        idat.add(piece.deflated.get(), piece.size);
    }
    idat.add(trailer.data(), trailer.size());
    return idat.end() && Chunk(file, "IEND", 0).end();
}

} // namespace quillo::OneBitPng
