#include "tests/support/PngFrame.h"

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <png.h>

namespace quillo::testing {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngReader() = default;
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;
    ~PngReader() { png_destroy_read_struct(&png, &info, nullptr); }
};

bool readInto(std::FILE* file, PngFrame& frame) {
    PngReader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (reader.png == nullptr) {
        return false;
    }
    reader.info = png_create_info_struct(reader.png);
    if (reader.info == nullptr || setjmp(png_jmpbuf(reader.png))) {
        return false;
    }
    png_init_io(reader.png, file);
    png_read_info(reader.png, reader.info);
    frame.width = static_cast<int>(png_get_image_width(reader.png, reader.info));
    frame.height = static_cast<int>(png_get_image_height(reader.png, reader.info));
    frame.bitDepth = png_get_bit_depth(reader.png, reader.info);
    frame.colorType = png_get_color_type(reader.png, reader.info);
    frame.rowBytes = png_get_rowbytes(reader.png, reader.info);
    frame.samples.resize(frame.rowBytes * static_cast<std::size_t>(frame.height));
    for (int y = 0; y < frame.height; ++y) {
        png_read_row(reader.png, frame.samples.data() + y * frame.rowBytes, nullptr);
    }
    png_read_end(reader.png, nullptr);
    return true;
}

} // namespace

std::optional<PngFrame> readPngFrame(const QString& path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.toLocal8Bit().constData(), "rb"));
    if (!file) {
        return std::nullopt;
    }
    PngFrame frame;
    if (!readInto(file.get(), frame)) {
        return std::nullopt;
    }
    return frame;
}

} // namespace quillo::testing
