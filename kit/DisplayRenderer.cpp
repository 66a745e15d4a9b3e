#include "kit/DisplayRenderer.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
#include <optional>
#include <png.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <type_traits>
#include <unistd.h>
#include <utility>
#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillo::DisplayRenderer {
namespace {

constexpr double letterWidth = 612.0;
constexpr double letterHeight = 792.0;
constexpr double sizeTolerance = 0.1;
constexpr int maximumPages = 4;
constexpr unsigned char whiteThreshold = 170;

[[noreturn]] void fail(DisplayError::Case failure) {
    throw DisplayError(failure);
}

// MuPDF reports failures by longjmp. Each call into it runs inside its own
// fz_try with only trivially destructible locals, and a failure becomes the
// given DisplayError once the MuPDF frame has been left.
template <typename Operation>
auto guarded(fz_context* context, DisplayError::Case failure, Operation operation) {
    using Result = decltype(operation());
    if constexpr (std::is_void_v<Result>) {
        bool failed = false;
        fz_try(context) {
            operation();
        }
        fz_catch(context) {
            failed = true;
        }
        if (failed) {
            fail(failure);
        }
    } else {
        Result result{};
        bool failed = false;
        fz_try(context) {
            result = operation();
        }
        fz_catch(context) {
            failed = true;
        }
        if (failed) {
            fail(failure);
        }
        return result;
    }
}

struct ContextDeleter {
    void operator()(fz_context* context) const { fz_drop_context(context); }
};
using Context = std::unique_ptr<fz_context, ContextDeleter>;

template <typename Handle, void (*drop)(fz_context*, Handle*)> struct Dropper {
    fz_context* context;
    void operator()(Handle* handle) const { drop(context, handle); }
};

void dropPage(fz_context* context, pdf_page* page) {
    fz_drop_page(context, &page->super);
}

using Document = std::unique_ptr<pdf_document, Dropper<pdf_document, pdf_drop_document>>;
using Page = std::unique_ptr<pdf_page, Dropper<pdf_page, dropPage>>;
using Pixmap = std::unique_ptr<fz_pixmap, Dropper<fz_pixmap, fz_drop_pixmap>>;
using Device = std::unique_ptr<fz_device, Dropper<fz_device, fz_drop_device>>;

void ignoreMessage(void* /*user*/, const char* /*message*/) {}

// A fresh context per call keeps the renderer free of shared state; its
// warnings and errors are dropped, since render mode's stderr belongs to the
// one failure line.
Context newContext() {
    Context context(fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT));
    if (!context) {
        fail(DisplayError::render);
    }
    fz_set_warning_callback(context.get(), ignoreMessage, nullptr);
    fz_set_error_callback(context.get(), ignoreMessage, nullptr);
    return context;
}

// MuPDF keeps PDF reals as floats. The shortest decimal that round-trips the
// float is the number as the file wrote it, so the size check can be made in
// double precision (612.1 must fail, 612.09 must pass).
std::optional<double> exactNumber(fz_context* context, pdf_obj* object) {
    if (pdf_is_int(context, object)) {
        return static_cast<double>(pdf_to_int64(context, object));
    }
    if (!pdf_is_real(context, object)) {
        return std::nullopt;
    }
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text - 1, pdf_to_real(context, object));
    if (written.ec != std::errc{}) {
        return std::nullopt;
    }
    *written.ptr = '\0';
    return std::strtod(text, nullptr);
}

struct MediaBox {
    double minX;
    double minY;
    double width;
    double height;
};

std::optional<MediaBox> mediaBox(fz_context* context, pdf_obj* box) {
    if (!pdf_is_array(context, box) || pdf_array_len(context, box) != 4) {
        return std::nullopt;
    }
    std::array<double, 4> values{};
    for (int index = 0; index < 4; ++index) {
        const auto value = exactNumber(context, pdf_array_get(context, box, index));
        if (!value) {
            return std::nullopt;
        }
        values[static_cast<std::size_t>(index)] = *value;
    }
    return MediaBox{std::min(values[0], values[2]), std::min(values[1], values[3]),
                    std::abs(values[2] - values[0]), std::abs(values[3] - values[1])};
}

pdf_obj* inheritedMediaBox(fz_context* context, pdf_obj* page) {
    return pdf_dict_get_inheritable(context, page, PDF_NAME(MediaBox));
}

bool isUnrotatedLetter(fz_context* context, pdf_obj* page) {
    const auto box = mediaBox(context, inheritedMediaBox(context, page));
    if (!box || std::abs(box->width - letterWidth) >= sizeTolerance ||
        std::abs(box->height - letterHeight) >= sizeTolerance) {
        return false;
    }
    return pdf_to_int(context, pdf_dict_get_inheritable(context, page, PDF_NAME(Rotate))) == 0;
}

Document openIssue(fz_context* context, const std::filesystem::path& pdf) {
    Document document(guarded(context, DisplayError::invalidPDF,
                              [&] { return pdf_open_document(context, pdf.c_str()); }),
                      {context});
    const int pageCount = guarded(context, DisplayError::invalidPDF,
                                  [&] { return pdf_count_pages(context, document.get()); });
    if (pageCount < 1 || pageCount > maximumPages) {
        fail(DisplayError::invalidPDF);
    }
    for (int index = 0; index < pageCount; ++index) {
        pdf_obj* page = guarded(context, DisplayError::invalidPDF, [&] {
            return pdf_lookup_page_obj(context, document.get(), index);
        });
        const bool valid = guarded(context, DisplayError::invalidPDF,
                                   [&] { return isUnrotatedLetter(context, page); });
        if (!valid) {
            fail(DisplayError::invalidPDF);
        }
    }
    return document;
}

// Draws the front page's whole media box, fitted and centred, onto a white
// gray pixmap of the frame's size.
Pixmap drawFrontPage(fz_context* context, pdf_document* document, int width, int height) {
    pdf_obj* pageObject = guarded(context, DisplayError::invalidPDF,
                                  [&] { return pdf_lookup_page_obj(context, document, 0); });
    const auto frontBox = guarded(context, DisplayError::invalidPDF, [&] {
        return mediaBox(context, inheritedMediaBox(context, pageObject));
    });
    if (!frontBox) {
        fail(DisplayError::invalidPDF);
    }
    const MediaBox box = *frontBox;
    // MuPDF places a page by its crop box; the frame shows the media box, so
    // the in-memory page takes its media box as crop box (nothing is saved).
    guarded(context, DisplayError::invalidPDF, [&] {
        pdf_dict_put(context, pageObject, PDF_NAME(CropBox),
                     inheritedMediaBox(context, pageObject));
    });
    Page page(guarded(context, DisplayError::invalidPDF,
                      [&] { return pdf_load_page(context, document, 0); }),
              {context});

    Pixmap pixmap(guarded(context, DisplayError::render,
                          [&] {
                              return fz_new_pixmap(context, fz_device_gray(context), width, height,
                                                   nullptr, 0);
                          }),
                  {context});
    fz_clear_pixmap_with_value(context, pixmap.get(), 255);

    // The fit in the page's y-up space: translate(tx, ty) · scale(s) ·
    // translate(−minX, −minY), then flipped into MuPDF's y-down device space.
    const double scale = std::min(width / box.width, height / box.height);
    const double tx = (width - box.width * scale) * 0.5;
    const double ty = (height - box.height * scale) * 0.5;
    const fz_matrix frame = {static_cast<float>(scale),
                             0,
                             0,
                             static_cast<float>(-scale),
                             static_cast<float>(tx - scale * box.minX),
                             static_cast<float>(height - ty + scale * box.minY)};
    // pdf_run_page applies MuPDF's own page matrix first; undo it.
    fz_matrix pageMatrix;
    guarded(context, DisplayError::render,
            [&] { pdf_page_transform(context, page.get(), nullptr, &pageMatrix); });
    const fz_matrix transform = fz_concat(fz_invert_matrix(pageMatrix), frame);

    Device device(guarded(context, DisplayError::render,
                          [&] { return fz_new_draw_device(context, fz_identity, pixmap.get()); }),
                  {context});
    guarded(context, DisplayError::render, [&] {
        pdf_run_page(context, page.get(), device.get(), transform, nullptr);
        fz_close_device(context, device.get());
    });
    return pixmap;
}

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

std::unique_ptr<unsigned char[]> thresholdAndPack(fz_context* context, fz_pixmap* pixmap, int width,
                                                  int height) {
    const unsigned char* samples = fz_pixmap_samples(context, pixmap);
    if (samples == nullptr) {
        fail(DisplayError::render);
    }
    const std::ptrdiff_t stride = fz_pixmap_stride(context, pixmap);
    const int rowBytes = width / 8;
    auto packed = std::make_unique<unsigned char[]>(static_cast<std::size_t>(rowBytes) * height);
    for (int y = 0; y < height; ++y) {
        thresholdRow(samples + y * stride, packed.get() + static_cast<std::ptrdiff_t>(y) * rowBytes,
                     width);
    }
    return packed;
}

// libpng reports failures by longjmp to the setjmp below; the holder is
// created before it, so the structures are released on both paths.
struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngWriter() = default;
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;
    ~PngWriter() { png_destroy_write_struct(&png, &info); }
};

void pngError(png_structp png, png_const_charp /*message*/) {
    png_longjmp(png, 1);
}
void pngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

enum class PngOutcome { written, notCreated, writeFailed };

PngOutcome encodePng(std::FILE* file, const unsigned char* packed, int width, int height) {
    PngWriter writer;
    writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    if (writer.png == nullptr) {
        return PngOutcome::notCreated;
    }
    writer.info = png_create_info_struct(writer.png);
    if (writer.info == nullptr) {
        return PngOutcome::notCreated;
    }
    if (setjmp(png_jmpbuf(writer.png))) {
        return PngOutcome::writeFailed;
    }
    png_init_io(writer.png, file);
    // A 1-bit page is mostly long runs of white bytes: run-length matching
    // compresses it as well as zlib's default search at a fraction of the
    // time, and row filters gain nothing on 1-bit rows.
    png_set_filter(writer.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(writer.png, 1);
    png_set_compression_strategy(writer.png, Z_RLE);
    png_set_IHDR(writer.png, writer.info, static_cast<png_uint_32>(width),
                 static_cast<png_uint_32>(height), 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(writer.png, writer.info);
    const std::size_t rowBytes = static_cast<std::size_t>(width) / 8;
    for (int y = 0; y < height; ++y) {
        png_write_row(writer.png, packed + static_cast<std::size_t>(y) * rowBytes);
    }
    png_write_end(writer.png, writer.info);
    return PngOutcome::written;
}

// A temporary file beside the destination, removed unless it is renamed over
// the destination: a failed write never touches an existing frame.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::filesystem::path& destination) {
        const auto directory =
            destination.has_parent_path() ? destination.parent_path() : std::filesystem::path(".");
        std::string pattern =
            (directory / ("." + destination.filename().string() + ".XXXXXX")).string();
        // mkostemp creates the file with mode 0600, so the frame is never
        // readable by others, not even while it is being written.
        const int descriptor = mkostemp(pattern.data(), O_CLOEXEC);
        if (descriptor < 0) {
            fail(DisplayError::render);
        }
        path_ = pattern;
        file_ = fdopen(descriptor, "wb");
        if (file_ == nullptr) {
            ::close(descriptor);
            std::remove(path_.c_str());
            fail(DisplayError::render);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
        if (!path_.empty()) {
            std::remove(path_.c_str());
        }
    }

    [[nodiscard]] std::FILE* file() const { return file_; }

    void setOwnerOnlyMode() const {
        if (::fchmod(fileno(file_), S_IRUSR | S_IWUSR) != 0) {
            throw std::system_error(errno, std::generic_category(),
                                    "Could not set the display frame’s permissions");
        }
    }

    void close() {
        std::FILE* file = std::exchange(file_, nullptr);
        if (std::fclose(file) != 0) {
            fail(DisplayError::save);
        }
    }

    void replace(const std::filesystem::path& destination) {
        if (std::rename(path_.c_str(), destination.c_str()) != 0) {
            fail(DisplayError::save);
        }
        path_.clear();
    }

private:
    std::string path_;
    std::FILE* file_ = nullptr;
};

void savePng(const std::filesystem::path& to, const unsigned char* packed, int width, int height) {
    TemporaryFile temporary(to);
    switch (encodePng(temporary.file(), packed, width, height)) {
    case PngOutcome::notCreated:
        fail(DisplayError::render);
    case PngOutcome::writeFailed:
        fail(DisplayError::save);
    case PngOutcome::written:
        break;
    }
    if (std::fflush(temporary.file()) != 0 || std::ferror(temporary.file()) != 0) {
        fail(DisplayError::save);
    }
    temporary.setOwnerOnlyMode();
    temporary.close();
    temporary.replace(to);
}

} // namespace

void render(const std::filesystem::path& pdf, const std::filesystem::path& to, DisplayModel model) {
    const int frameWidth = width(model);
    const int frameHeight = height(model);
    const Context context = newContext();
    const Document document = openIssue(context.get(), pdf);
    const Pixmap pixmap = drawFrontPage(context.get(), document.get(), frameWidth, frameHeight);
    const auto packed = thresholdAndPack(context.get(), pixmap.get(), frameWidth, frameHeight);
    savePng(to, packed.get(), frameWidth, frameHeight);
}

} // namespace quillo::DisplayRenderer
