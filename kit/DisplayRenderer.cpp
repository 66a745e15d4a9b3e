#include "kit/DisplayRenderer.h"

#include "kit/MuPdfCall.h"
#include "kit/OneBitPng.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
#include <mutex>
#include <optional>
#include <sched.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <type_traits>
#include <unistd.h>
#include <utility>
#include <vector>

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

// A failed MuPDF call becomes the given DisplayError.
template <typename Operation>
auto guarded(fz_context* context, DisplayError::Case failure, Operation operation) {
    using Result = decltype(operation());
    if constexpr (std::is_void_v<Result>) {
        if (!kit::completes(context, operation)) {
            fail(failure);
        }
    } else {
        Result result{};
        if (!kit::completes(context, [&] { result = operation(); })) {
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

using Stream = std::unique_ptr<fz_stream, Dropper<fz_stream, fz_drop_stream>>;
using Document = std::unique_ptr<pdf_document, Dropper<pdf_document, pdf_drop_document>>;
using Page = std::unique_ptr<pdf_page, Dropper<pdf_page, dropPage>>;
using DisplayList =
    std::unique_ptr<fz_display_list, Dropper<fz_display_list, fz_drop_display_list>>;
using Pixmap = std::unique_ptr<fz_pixmap, Dropper<fz_pixmap, fz_drop_pixmap>>;
using Device = std::unique_ptr<fz_device, Dropper<fz_device, fz_drop_device>>;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void ignoreMessage(void* /*user*/, const char* /*message*/) {}

// Warnings and errors are dropped, since render mode's stderr belongs to the
// one failure line.
void silence(fz_context* context) {
    fz_set_warning_callback(context, ignoreMessage, nullptr);
    fz_set_error_callback(context, ignoreMessage, nullptr);
}

void pause() {
#if defined(__SSE2__)
    _mm_pause();
#endif
}

// The locks MuPDF asks for once contexts are cloned for the band threads. It
// takes them around every allocation and glyph cache lookup and holds them
// for a moment only, so a waiting thread spins a little before it sleeps.
class Locks {
public:
    Locks() = default;
    Locks(const Locks&) = delete;
    Locks& operator=(const Locks&) = delete;

    fz_locks_context* callbacks() { return &callbacks_; }

private:
    // 0 free, 1 held, 2 held with a thread asleep waiting for it.
    using State = std::atomic<int>;
    // One cache line each: the allocation and glyph cache locks are taken tens
    // of thousands of times a frame, from every thread.
    struct alignas(64) Line {
        State state{0};
    };

    static State& state(void* user, int index) {
        return static_cast<Locks*>(user)->lines_.at(static_cast<std::size_t>(index)).state;
    }
    static void lock(void* user, int index) {
        State& held = state(user, index);
        for (int spins = 0; spins < 200; ++spins) {
            int expected = 0;
            if (held.compare_exchange_weak(expected, 1, std::memory_order_acquire)) {
                return;
            }
            pause();
        }
        while (held.exchange(2, std::memory_order_acquire) != 0) {
            held.wait(2);
        }
    }
    static void unlock(void* user, int index) {
        State& held = state(user, index);
        if (held.exchange(0, std::memory_order_release) == 2) {
            held.notify_one();
        }
    }
    std::array<Line, FZ_LOCK_MAX> lines_{};
    fz_locks_context callbacks_{this, lock, unlock};
};

// A fresh context per call keeps the renderer free of shared state.
Context newContext(Locks& locks) {
    Context context(fz_new_context(nullptr, locks.callbacks(), FZ_STORE_DEFAULT));
    if (!context) {
        fail(DisplayError::render);
    }
    silence(context.get());
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

// Only a regular file is read, and opening never blocks: a FIFO or a device
// named as the issue would otherwise hang the caller or feed it forever.
File openRegularFile(const std::filesystem::path& path) {
    if (path.native().find('\0') != std::string::npos) {
        fail(DisplayError::invalidPDF);
    }
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        fail(DisplayError::invalidPDF);
    }
    struct stat status {};
    std::FILE* file = nullptr;
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
        (file = ::fdopen(descriptor, "rb")) == nullptr) {
        ::close(descriptor);
        fail(DisplayError::invalidPDF);
    }
    return File(file);
}

// The issue read through a window of 64 KiB. MuPDF's own file stream reads
// 4 KiB at a time, most of them after a seek, and often seeks back into what
// it has just read: here such a seek costs nothing, and a whole issue takes a
// few dozen reads.
struct FileWindow {
    int descriptor;
    std::int64_t size;
    std::int64_t start; // the file offset of `bytes`
    std::size_t length; // how many of `bytes` were read
    std::array<unsigned char, std::size_t{64} * 1024> bytes;

    static int next(fz_context* context, fz_stream* stream, std::size_t /*wanted*/) {
        auto& window = *static_cast<FileWindow*>(stream->state);
        ssize_t read = -1;
        do {
            read =
                ::pread(window.descriptor, window.bytes.data(), window.bytes.size(), stream->pos);
        } while (read < 0 && errno == EINTR);
        if (read < 0) {
            fz_throw(context, FZ_ERROR_GENERIC, "cannot read the issue");
        }
        window.start = stream->pos;
        window.length = static_cast<std::size_t>(read);
        stream->rp = window.bytes.data();
        stream->wp = stream->rp + window.length;
        stream->pos += read;
        return read == 0 ? EOF : *stream->rp++;
    }

    // MuPDF has turned a seek from the current position into one from the start.
    static void seek(fz_context* context, fz_stream* stream, std::int64_t offset, int whence) {
        auto& window = *static_cast<FileWindow*>(stream->state);
        const std::int64_t target = whence == SEEK_END ? window.size + offset : offset;
        if (target < 0) {
            fz_throw(context, FZ_ERROR_GENERIC, "cannot seek before the start of the issue");
        }
        const std::int64_t end = window.start + static_cast<std::int64_t>(window.length);
        if (target >= window.start && target <= end) {
            stream->rp = window.bytes.data() + (target - window.start);
            stream->wp = window.bytes.data() + window.length;
            stream->pos = end;
        } else {
            stream->rp = stream->wp = window.bytes.data();
            stream->pos = target;
        }
    }

    static void drop(fz_context* context, void* state) { fz_free(context, state); }
};

Stream openStream(fz_context* context, std::FILE* file) {
    struct stat status {};
    if (::fstat(fileno(file), &status) != 0) {
        fail(DisplayError::invalidPDF);
    }
    auto* window = static_cast<FileWindow*>(guarded(
        context, DisplayError::invalidPDF, [&] { return fz_malloc(context, sizeof(FileWindow)); }));
    window->descriptor = fileno(file);
    window->size = status.st_size;
    window->start = 0;
    window->length = 0;
    // fz_new_stream drops the window when it fails.
    Stream stream(
        guarded(context, DisplayError::invalidPDF,
                [&] { return fz_new_stream(context, window, FileWindow::next, FileWindow::drop); }),
        {context});
    stream->seek = FileWindow::seek;
    return stream;
}

Document openIssue(fz_context* context, std::FILE* file) {
    const Stream stream = openStream(context, file);
    Document document(guarded(context, DisplayError::invalidPDF,
                              [&] { return pdf_open_document_with_stream(context, stream.get()); }),
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

// The front page and the transform under which pdf_run_page draws its whole
// media box fitted and centred in a frame of the given size, in device space.
struct FrontPage {
    Page page;
    fz_matrix transform;
    // What the content starts from: MuPDF's page matrix, then `transform`.
    fz_matrix contentTransform;
    // The frame's pixels that the media box covers, even partly.
    fz_irect area;
};

FrontPage loadFrontPage(fz_context* context, pdf_document* document, int width, int height) {
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
    const auto clamped = [](double value, int limit) {
        return static_cast<int>(std::clamp(value, 0.0, static_cast<double>(limit)));
    };
    const fz_irect area = {clamped(std::floor(tx), width),
                           clamped(std::floor(height - ty - box.height * scale), height),
                           clamped(std::ceil(tx + box.width * scale), width),
                           clamped(std::ceil(height - ty), height)};
    return {std::move(page), transform, fz_concat(pageMatrix, transform), area};
}

// Records the front page as the bands replay it.
DisplayList recordFrontPage(fz_context* context, const FrontPage& front, int width, int height) {
    DisplayList list(guarded(context, DisplayError::render,
                             [&] {
                                 return fz_new_display_list(
                                     context, fz_make_rect(0, 0, static_cast<float>(width),
                                                           static_cast<float>(height)));
                             }),
                     {context});
    const Device device(guarded(context, DisplayError::render,
                                [&] { return fz_new_list_device(context, list.get()); }),
                        {context});
    guarded(context, DisplayError::render, [&] {
        pdf_run_page(context, front.page.get(), device.get(), front.transform, nullptr);
        fz_close_device(context, device.get());
    });
    return list;
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

// Photographs decoded once, whole, for every band. Left alone, MuPDF decodes
// just the part of an image that a band crosses; a JPEG is decoded from its
// top, so each band would pay again for every row above its part. Each
// compressed image of the page gets a get_pixmap that hands out one shared
// decode per subsampling factor. The decodes start as jobs of their own while
// the page is still being read, biggest first, at the factor MuPDF will ask
// for; they stay out of MuPDF's store, so that a band finds there only what it
// decoded itself, as it would on its own.
class SharedImages {
public:
    // `slot` is what the context's user pointer points at: the contexts of the
    // band threads are cloned before the page is read, and find the images
    // through it.
    SharedImages(fz_context* context, const SharedImages*& slot) : context_(context), slot_(slot) {
        slot_ = this;
    }
    SharedImages(const SharedImages&) = delete;
    SharedImages& operator=(const SharedImages&) = delete;
    ~SharedImages() {
        slot_ = nullptr;
        for (const auto& entry : entries_) {
            entry->image->get_pixmap = entry->decode;
            for (fz_pixmap* pixmap : entry->decoded) {
                fz_drop_pixmap(context_, pixmap);
            }
        }
        for (const auto* entries : {&entries_, &found_}) {
            for (const auto& entry : *entries) {
                fz_drop_image(context_, entry->image);
            }
        }
    }

    // Notes an image the page draws under `transform`, unless it is known or
    // cannot be shared. Caller's thread only; an image left out is drawn by
    // MuPDF alone.
    void note(fz_context* context, fz_image* image, fz_matrix transform) noexcept {
        const auto same = [image](const auto& entry) { return entry->image == image; };
        fz_compressed_buffer* compressed = fz_compressed_image_buffer(context, image);
        if (image->scalable || image->decoded || compressed == nullptr ||
            std::any_of(entries_.begin(), entries_.end(), same) ||
            std::any_of(found_.begin(), found_.end(), same)) {
            return;
        }
        try {
            auto entry = std::make_unique<Entry>();
            entry->image = image;
            entry->compressed = compressed;
            entry->transform = transform;
            found_.push_back(std::move(entry));
            fz_keep_image(context, image);
        } catch (const std::bad_alloc&) {
        }
    }

    // Notes every image the display list draws.
    void noteAll(fz_display_list* list) {
        auto* collector = reinterpret_cast<Collector*>(guarded(context_, DisplayError::render, [&] {
            return fz_new_device_of_size(context_, sizeof(Collector));
        }));
        collector->owner = this;
        collector->super.fill_image = collectImage;
        const Device device(&collector->super, {context_});
        guarded(context_, DisplayError::render, [&] {
            fz_run_display_list(context_, list, device.get(), fz_identity, fz_infinite_rect,
                                nullptr);
            fz_close_device(context_, device.get());
        });
    }

    // Shares the images noted since the last call, biggest first, and returns
    // how many images are shared in all. Caller's thread only.
    int share() {
        std::sort(found_.begin(), found_.end(), [](const auto& a, const auto& b) {
            return a->image->w * static_cast<long>(a->image->h) >
                   b->image->w * static_cast<long>(b->image->h);
        });
        const std::lock_guard lock(mutex_);
        entries_.reserve(entries_.size() + found_.size());
        for (auto& entry : found_) {
            entry->decode = std::exchange(entry->image->get_pixmap, sharedPixmap);
            entries_.push_back(std::move(entry));
        }
        found_.clear();
        return static_cast<int>(entries_.size());
    }

    // Decodes image `index` as the page draws it; a failure is left for the
    // band that draws the image, where MuPDF skips what it cannot decode.
    void decode(fz_context* context, int index) const noexcept {
        Entry* entry = nullptr;
        try {
            const std::lock_guard lock(mutex_);
            entry = entries_.at(static_cast<std::size_t>(index)).get();
        } catch (const std::exception&) {
            return;
        }
        // What fz_get_pixmap_from_image will ask for when a band draws it.
        const fz_matrix drawn = fz_gridfit_matrix(0, entry->transform);
        const int w = std::min(entry->image->w,
                               static_cast<int>(std::sqrt(drawn.a * drawn.a + drawn.b * drawn.b)));
        const int h = std::min(entry->image->h,
                               static_cast<int>(std::sqrt(drawn.c * drawn.c + drawn.d * drawn.d)));
        int factor = 0;
        while (w > 0 && h > 0 && factor < 6 && (entry->image->w >> (factor + 1)) >= w + 2 &&
               (entry->image->h >> (factor + 1)) >= h + 2) {
            ++factor;
        }
        fz_try(context) {
            decodedAt(context, *entry, factor, w, h);
        }
        fz_catch(context) {}
    }

private:
    static constexpr int factors = 8;

    struct Entry {
        fz_image* image = nullptr;
        // The image's data, which MuPDF no longer hands out once get_pixmap
        // is swapped.
        fz_compressed_buffer* compressed = nullptr;
        fz_matrix transform{};
        fz_image_get_pixmap_fn* decode = nullptr;
        std::mutex mutex;
        std::array<fz_pixmap*, factors> decoded{};
        std::array<int, factors> remaining{};
    };

    struct Collector {
        fz_device super;
        SharedImages* owner;
    };

    static void collectImage(fz_context* context, fz_device* device, fz_image* image,
                             fz_matrix transform, float /*alpha*/, fz_color_params /*color*/) {
        reinterpret_cast<Collector*>(device)->owner->note(context, image, transform);
    }

    Entry* find(fz_image* image) const noexcept {
        try {
            const std::lock_guard lock(mutex_);
            for (const auto& entry : entries_) {
                if (entry->image == image) {
                    return entry.get();
                }
            }
        } catch (const std::system_error&) {
        }
        return nullptr;
    }

    // The frame is gray: converted once here, a colour image is not converted
    // again by every band that paints a part of it.
    static fz_pixmap* toGray(fz_context* context, fz_pixmap* decoded) {
        fz_colorspace* colorspace = fz_pixmap_colorspace(context, decoded);
        if (colorspace == nullptr || colorspace == fz_device_gray(context)) {
            return decoded;
        }
        fz_pixmap* gray = nullptr;
        fz_try(context) {
            gray = fz_convert_pixmap(context, decoded, fz_device_gray(context), nullptr, nullptr,
                                     fz_default_color_params, 1);
        }
        fz_always(context) {
            fz_drop_pixmap(context, decoded);
        }
        fz_catch(context) {
            fz_rethrow(context);
        }
        return gray;
    }

    // Whether MuPDF would patch the frame height in the JPEG's header before
    // decoding it (missing, or taller than the image); such an image keeps
    // MuPDF's own decode, which does.
    static bool needsHeightPatch(const fz_buffer* jpeg, int height) {
        const unsigned char* data = jpeg->data;
        const std::size_t length = jpeg->len;
        for (std::size_t at = 2; at + 9 < length && data[at] == 0xFF;
             at += ((data[at + 2] << 8U) | data[at + 3]) + 2U) {
            const unsigned char marker = data[at + 1];
            if (marker < 0xC0 || (marker > 0xC3 && marker < 0xC9) || marker > 0xCB) {
                continue;
            }
            const int frameHeight = (data[at + 5] << 8U) | data[at + 6];
            if (frameHeight == 0 || frameHeight > height) {
                return true;
            }
        }
        return false;
    }

    // An 8-bit RGB JPEG decoded at `factor` straight into gray, a few rows at
    // a time: the whole colour decode, three times the size of the gray one,
    // is never held, and each strip is converted while it is still in the
    // cache. The bytes are the ones MuPDF's decode and conversion give: the
    // same stream read in the same order, zeros past a truncated end, and the
    // same conversion per pixel. Null for any other image.
    static fz_pixmap* decodeJpegToGray(fz_context* context, const Entry& entry, int factor) {
        constexpr int stripRows = 16;
        fz_image* image = entry.image;
        fz_compressed_buffer* compressed = entry.compressed;
        if (compressed->params.type != FZ_IMAGE_JPEG || factor > 3 || image->bpc != 8 ||
            image->n != 3 || image->use_colorkey != 0 || image->use_decode != 0 ||
            image->imagemask != 0 || image->colorspace == nullptr ||
            fz_colorspace_type(context, image->colorspace) != FZ_COLORSPACE_RGB ||
            needsHeightPatch(compressed->buffer, image->h)) {
            return nullptr;
        }
        const int w = (image->w + (1 << factor) - 1) >> factor;
        const int h = (image->h + (1 << factor) - 1) >> factor;
        const std::size_t colorStride = static_cast<std::size_t>(w) * 3;
        int unreduced = factor;
        fz_stream* stream =
            fz_open_image_decomp_stream_from_buffer(context, compressed, &unreduced);
        fz_pixmap* gray = nullptr;
        unsigned char* strip = nullptr;
        fz_pixmap* color = nullptr;
        fz_pixmap* converted = nullptr;
        fz_var(gray);
        fz_var(strip);
        fz_var(color);
        fz_var(converted);
        fz_try(context) {
            gray = fz_new_pixmap(context, fz_device_gray(context), w, h, nullptr, 0);
            if (image->interpolate != 0) {
                gray->flags |= FZ_PIXMAP_FLAG_INTERPOLATE;
            } else {
                gray->flags &= ~FZ_PIXMAP_FLAG_INTERPOLATE;
            }
            strip = static_cast<unsigned char*>(fz_malloc(context, colorStride * stripRows));
            for (int top = 0; top < h; top += stripRows) {
                const int rows = std::min(stripRows, h - top);
                const std::size_t wanted = colorStride * rows;
                const std::size_t read = fz_read(context, stream, strip, wanted);
                std::memset(strip + read, 0, wanted - read);
                color = fz_new_pixmap_with_data(context, image->colorspace, w, rows, nullptr, 0,
                                                static_cast<int>(colorStride), strip);
                converted = fz_convert_pixmap(context, color, fz_device_gray(context), nullptr,
                                              nullptr, fz_default_color_params, 1);
                for (int row = 0; row < rows; ++row) {
                    std::memcpy(gray->samples + (top + row) * gray->stride,
                                converted->samples + row * converted->stride,
                                static_cast<std::size_t>(w));
                }
                fz_drop_pixmap(context, std::exchange(converted, nullptr));
                fz_drop_pixmap(context, std::exchange(color, nullptr));
            }
        }
        fz_always(context) {
            fz_drop_pixmap(context, converted);
            fz_drop_pixmap(context, color);
            fz_free(context, strip);
            fz_drop_stream(context, stream);
        }
        fz_catch(context) {
            fz_drop_pixmap(context, gray);
            fz_rethrow(context);
        }
        return gray;
    }

    // The entry's decode at `factor`, made on first use, and kept by the
    // entry. Throws as MuPDF does: no C++ object with a destructor may live
    // across the calls that can throw, so the mutex is released in fz_always.
    static fz_pixmap* decodedAt(fz_context* context, Entry& entry, int factor, int w, int h) {
        bool locked = true;
        try {
            entry.mutex.lock();
        } catch (const std::system_error&) {
            locked = false;
        }
        if (!locked) {
            fz_throw(context, FZ_ERROR_GENERIC, "image not shared");
        }
        const auto index = static_cast<std::size_t>(factor);
        fz_try(context) {
            if (entry.decoded[index] == nullptr) {
                int remaining = 0;
                fz_pixmap* gray = decodeJpegToGray(context, entry, factor);
                if (gray == nullptr) {
                    remaining = factor;
                    gray = toGray(context,
                                  entry.decode(context, entry.image, nullptr, w, h, &remaining));
                }
                entry.decoded[index] = gray;
                entry.remaining[index] = remaining;
            }
        }
        fz_always(context) {
            entry.mutex.unlock();
        }
        fz_catch(context) {
            fz_rethrow(context);
        }
        return entry.decoded[index];
    }

    // Called by MuPDF from any band thread, inside its own error handling.
    static fz_pixmap* sharedPixmap(fz_context* context, fz_image* image, fz_irect* subarea, int w,
                                   int h, int* l2factor) {
        const auto* shared = *static_cast<const SharedImages* const*>(fz_user_context(context));
        Entry* entry = shared->find(image);
        if (entry == nullptr) {
            fz_throw(context, FZ_ERROR_GENERIC, "image not shared");
        }
        const int factor = std::clamp(*l2factor, 0, factors - 1);
        fz_pixmap* decoded = decodedAt(context, *entry, factor, w, h);
        // What is left to subsample, the caller does in place: on a copy.
        *l2factor = entry->remaining[static_cast<std::size_t>(factor)];
        if (subarea != nullptr) {
            *subarea = fz_make_irect(0, 0, image->w, image->h);
        }
        return *l2factor == 0 ? fz_keep_pixmap(context, decoded)
                              : fz_clone_pixmap(context, decoded);
    }

    fz_context* context_;
    const SharedImages*& slot_;
    mutable std::mutex mutex_; // guards entries_, which the caller's thread extends
    std::vector<std::unique_ptr<Entry>> entries_;
    std::vector<std::unique_ptr<Entry>> found_; // noted, not yet shared
};

// Follows a page's content for the images it draws and where, and notes them:
// only the transform of the graphics state is tracked, and neither text nor
// paths are read beyond the lexer, so it takes a fraction of the time that
// reading the page does, and the decodes can start at once.
struct ImageFinder {
    pdf_processor super;
    SharedImages* images;
    pdf_document* document;
    fz_matrix transform;
    std::array<fz_matrix, 32> saved;
    int depth;   // transforms saved
    int floor;   // the depth a form started at, below which it cannot restore
    int unsaved; // saves beyond the array's, restored first
    int forms;   // forms entered

    static constexpr int maximumFormDepth = 8;

    static ImageFinder& of(pdf_processor* processor) {
        return *reinterpret_cast<ImageFinder*>(processor);
    }
    static void save(fz_context* /*context*/, pdf_processor* processor) {
        ImageFinder& finder = of(processor);
        if (finder.depth < static_cast<int>(finder.saved.size())) {
            finder.saved.at(static_cast<std::size_t>(finder.depth++)) = finder.transform;
        } else {
            ++finder.unsaved;
        }
    }
    static void restore(fz_context* /*context*/, pdf_processor* processor) {
        ImageFinder& finder = of(processor);
        if (finder.unsaved > 0) {
            --finder.unsaved;
        } else if (finder.depth > finder.floor) {
            finder.transform = finder.saved.at(static_cast<std::size_t>(--finder.depth));
        }
    }
    static void concat(fz_context* /*context*/, pdf_processor* processor, float a, float b, float c,
                       float d, float e, float f) {
        ImageFinder& finder = of(processor);
        finder.transform = fz_concat(fz_make_matrix(a, b, c, d, e, f), finder.transform);
    }
    static void drawImage(fz_context* context, pdf_processor* processor, const char* /*name*/,
                          fz_image* image) {
        const ImageFinder& finder = of(processor);
        // Images with a colour space are what MuPDF fills, turned upright.
        if (image->colorspace != nullptr) {
            finder.images->note(context, image,
                                fz_pre_scale(fz_pre_translate(finder.transform, 0, 1), 1, -1));
        }
    }
    static void drawForm(fz_context* context, pdf_processor* processor, const char* /*name*/,
                         pdf_obj* form, pdf_obj* pageResources) {
        ImageFinder& finder = of(processor);
        if (finder.forms >= maximumFormDepth) {
            return;
        }
        const fz_matrix outer = finder.transform;
        const int depth = finder.depth;
        const int floor = finder.floor;
        const int unsaved = finder.unsaved;
        finder.transform = fz_concat(pdf_xobject_matrix(context, form), finder.transform);
        pdf_obj* resources = pdf_xobject_resources(context, form);
        finder.floor = depth;
        finder.unsaved = 0;
        ++finder.forms;
        fz_try(context) {
            pdf_process_contents(context, processor, finder.document,
                                 resources != nullptr ? resources : pageResources, form, nullptr);
        }
        fz_always(context) {
            --finder.forms;
            finder.transform = outer;
            finder.depth = depth;
            finder.floor = floor;
            finder.unsaved = unsaved;
        }
        fz_catch(context) {
            fz_rethrow(context);
        }
    }

    // Notes what the page's own content draws. A failure is not the finder's
    // to report: reading the page meets it again.
    static void find(fz_context* context, pdf_document* document, const FrontPage& front,
                     SharedImages& images) noexcept {
        pdf_processor* processor = nullptr;
        fz_var(processor);
        fz_try(context) {
            processor =
                static_cast<pdf_processor*>(pdf_new_processor(context, sizeof(ImageFinder)));
            ImageFinder& finder = of(processor);
            finder.images = &images;
            finder.document = document;
            finder.transform = front.contentTransform;
            processor->op_q = save;
            processor->op_Q = restore;
            processor->op_cm = concat;
            processor->op_Do_image = drawImage;
            processor->op_Do_form = drawForm;
            pdf_process_contents(context, processor, document,
                                 pdf_page_resources(context, front.page.get()),
                                 pdf_page_contents(context, front.page.get()), nullptr);
        }
        fz_always(context) {
            pdf_drop_processor(context, processor);
        }
        fz_catch(context) {}
    }
};

// The columns a band draws: those the page covers, even partly, widened to
// whole groups of 16 for the threshold. The rest of a row is margin, white
// whatever the page holds beyond its media box.
struct BandColumns {
    int drawnFirst = 0;
    int drawnLast = 0;
    int first = 0;
    int last = 0;

    BandColumns(const fz_irect& page, int width)
        : drawnFirst(page.x0), drawnLast(page.x1), first(page.x0 / 16 * 16),
          last(std::min(width, (page.x1 + 15) / 16 * 16)) {}
    [[nodiscard]] int count() const { return last - first; }
};

// Where a band's packed rows go, `stride` bytes apart.
struct PackedRows {
    unsigned char* first;
    std::size_t stride;
};

// Draws frame rows [top, bottom) onto white in `buffer`, which holds the
// thread's tallest band of the page's columns, and packs them into `out`.
void drawBand(fz_context* context, fz_display_list* list, const fz_irect& page, int width, int top,
              int bottom, unsigned char* buffer, PackedRows out) {
    const BandColumns columns(page, width);
    const int drawnTop = std::max(top, page.y0);
    const int drawnBottom = std::min(bottom, page.y1);
    const bool drawn = drawnTop < drawnBottom && columns.drawnFirst < columns.drawnLast;
    if (drawn) {
        std::memset(buffer, 255,
                    static_cast<std::size_t>(columns.count()) * (drawnBottom - drawnTop));
        const Pixmap pixmap(guarded(context, DisplayError::render,
                                    [&] {
                                        return fz_new_pixmap_with_data(
                                            context, fz_device_gray(context),
                                            columns.drawnLast - columns.drawnFirst,
                                            drawnBottom - drawnTop, nullptr, 0, columns.count(),
                                            buffer + (columns.drawnFirst - columns.first));
                                    }),
                            {context});
        pixmap->x = columns.drawnFirst;
        pixmap->y = drawnTop;
        const Device device(
            guarded(context, DisplayError::render,
                    [&] { return fz_new_draw_device(context, fz_identity, pixmap.get()); }),
            {context});
        guarded(context, DisplayError::render, [&] {
            fz_run_display_list(context, list, device.get(), fz_identity,
                                fz_rect_from_irect(fz_pixmap_bbox(context, pixmap.get())), nullptr);
            fz_close_device(context, device.get());
        });
    }
    const std::size_t rowBytes = static_cast<std::size_t>(width) / 8;
    const auto left = static_cast<std::size_t>(columns.first) / 8;
    const auto right = static_cast<std::size_t>(columns.last) / 8;
    for (int y = top; y < bottom; ++y) {
        unsigned char* row = out.first + static_cast<std::size_t>(y - top) * out.stride;
        if (!drawn || y < drawnTop || y >= drawnBottom) {
            std::memset(row, 0xFF, rowBytes);
            continue;
        }
        std::memset(row, 0xFF, left);
        thresholdRow(buffer + static_cast<std::ptrdiff_t>(y - drawnTop) * columns.count(),
                     row + left, columns.count());
        std::memset(row + right, 0xFF, rowBytes - right);
    }
}

unsigned availableCores() {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof cores, &cores) == 0 && CPU_COUNT(&cores) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&cores));
    }
    return std::max(1U, std::thread::hardware_concurrency());
}

constexpr unsigned maximumThreads = 4;

// A model's frame is always drawn in the same bands, whatever the number of
// threads: MuPDF clips a path's edges to the band it draws into, which can
// move an anti-aliased edge pixel by a step, so the bands, not the threads,
// decide the frame. Every band repeats MuPDF's walk over all of the page's
// glyphs, so more bands cost more than they balance (measured on the sample
// issue); the photographs, decoded as jobs of their own, fill the gaps. The
// small og frame is one band: its photographs' decodes already keep a second
// core busy for about as long as its drawing takes, and two bands took more
// time in all, on one core or two.
int bandCount(DisplayModel model) {
    return model == DisplayModel::og ? 1 : 2;
}

// The work of one frame, as jobs taken in turn by whichever thread is free:
// first the shared images' decodes, opened while the page is still being
// read, then the bands, opened once it has been. A failure on any thread
// stops the others and is reported once they have finished.
class FrameWork {
public:
    // With `pieces`, each band is compressed too, into the piece of its number.
    FrameWork(const SharedImages& images, Frame& frame, int bandCount,
              std::vector<OneBitPng::Piece>* pieces)
        : images_(images), frame_(frame), bandCount_(bandCount), pieces_(pieces) {
        if (pieces_ != nullptr) {
            pieces_->resize(static_cast<std::size_t>(bandCount_));
        }
    }

    // Opens the decodes of the first `imageCount` images.
    void openImages(int imageCount) { open(imageCount, imageCount, false); }

    // Opens the decodes of all `imageCount` images, then the bands of `list`,
    // which draws the page over `page`: the last of the work.
    void openBands(fz_display_list* list, const fz_irect& page, int imageCount) {
        list_ = list;
        page_ = page;
        open(imageCount, imageCount + bandCount_, true);
    }

    // Ends the work where it stands: each thread returns after its job.
    void abandon() {
        failed_ = true;
        open(imageCount_.load(), imageCount_.load(), true);
    }

    // Returns once the work is complete and has no job left to take.
    void doAll(fz_context* context) noexcept {
        try {
            std::unique_ptr<unsigned char[]> buffer;
            for (int job = next_++; await(job) && !failed_; job = next_++) {
                const int imageCount = imageCount_.load(std::memory_order_relaxed);
                if (job < imageCount) {
                    images_.decode(context, job);
                    continue;
                }
                const int band = job - imageCount;
                const int top = frame_.height * band / bandCount_;
                const int bottom = frame_.height * (band + 1) / bandCount_;
                if (!buffer) {
                    const int tallest = (frame_.height + bandCount_ - 1) / bandCount_;
                    buffer = std::make_unique_for_overwrite<unsigned char[]>(
                        static_cast<std::size_t>(BandColumns(page_, frame_.width).count()) *
                        tallest);
                }
                if (pieces_ == nullptr) {
                    const std::size_t rowBytes = static_cast<std::size_t>(frame_.width) / 8;
                    drawBand(context, list_, page_, frame_.width, top, bottom, buffer.get(),
                             {frame_.packed.data() + top * rowBytes, rowBytes});
                    continue;
                }
                // The rows go straight into the PNG's scanlines, each after
                // its filter type, None.
                const std::size_t length = OneBitPng::scanlineLength(frame_.width);
                const std::size_t size = length * (bottom - top);
                const auto scanlines = std::make_unique_for_overwrite<unsigned char[]>(size);
                for (std::size_t start = 0; start < size; start += length) {
                    scanlines[start] = 0;
                }
                drawBand(context, list_, page_, frame_.width, top, bottom, buffer.get(),
                         {scanlines.get() + 1, length});
                if (!OneBitPng::compress(scanlines.get(), size, length, band + 1 == bandCount_,
                                         pieces_->at(static_cast<std::size_t>(band)))) {
                    failed_ = true;
                }
            }
        } catch (...) {
            failed_ = true;
        }
    }

    [[nodiscard]] bool failed() const { return failed_; }

private:
    // Jobs [0, opened) may be taken; the lowest bit tells that no more will
    // open. One value, so that a waiting thread sees both change at once.
    void open(int imageCount, int jobCount, bool last) {
        imageCount_.store(imageCount, std::memory_order_relaxed);
        state_.store(jobCount * 2 + (last ? 1 : 0), std::memory_order_release);
        state_.notify_all();
    }

    // Whether job `job` is there to do, once it is open or no more will be.
    // Until then a thread yields rather than sleeps, for a while: waking an
    // idle core took up to milliseconds on the virtual machine measured, and
    // a yielding thread leaves the core to any other thread that wants it.
    bool await(int job) const {
        std::optional<std::chrono::steady_clock::time_point> until;
        for (;;) {
            const int state = state_.load(std::memory_order_acquire);
            if (job < state / 2) {
                return true;
            }
            if ((state & 1) != 0) {
                return false;
            }
            if (!until) {
                until = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
            }
            if (std::chrono::steady_clock::now() < *until) {
                std::this_thread::yield();
            } else {
                state_.wait(state, std::memory_order_acquire);
            }
        }
    }

    const SharedImages& images_;
    Frame& frame_;
    int bandCount_;
    std::vector<OneBitPng::Piece>* pieces_;
    fz_display_list* list_ = nullptr;
    fz_irect page_{};
    std::atomic<int> state_{0};
    std::atomic<int> imageCount_{0};
    std::atomic<int> next_{0};
    std::atomic<bool> failed_{false};
};

// The threads that work on a frame beside the caller's. They start, each with
// a clone of the caller's context, before the page is read, so that starting
// them costs the frame nothing, and take jobs as soon as there are any.
class Crew {
public:
    Crew(fz_context* context, FrameWork& work, unsigned size) : work_(work) {
        helpers_.reserve(size);
        for (unsigned index = 1; index < size; ++index) {
            Context clone(fz_clone_context(context));
            if (!clone) {
                break;
            }
            silence(clone.get());
            try {
                helpers_.emplace_back(
                    [&work, clone = std::move(clone)] { work.doAll(clone.get()); });
            } catch (const std::system_error&) {
                break; // fewer threads; the caller's takes the rest
            }
        }
    }
    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;
    // A frame that fails before its work is complete leaves none to do.
    ~Crew() {
        if (!helpers_.empty()) {
            work_.abandon();
        }
    }

    // The caller's share of the complete work; returns once every helper has
    // run out of jobs too.
    void finish(fz_context* context) {
        work_.doAll(context);
        helpers_.clear();
    }

private:
    FrameWork& work_;
    std::vector<std::jthread> helpers_;
};

// A temporary file beside the destination, removed unless it is renamed over
// the destination: a failed write never touches an existing frame.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::filesystem::path& destination) {
        if (destination.native().find('\0') != std::string::npos) {
            fail(DisplayError::render);
        }
        const auto directory =
            destination.has_parent_path() ? destination.parent_path() : std::filesystem::path(".");
        // Short, so that a destination name of the longest length still has one.
        std::string pattern = (directory / ".frame-XXXXXX").string();
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

void savePng(const std::filesystem::path& to, const Frame& frame,
             const std::vector<OneBitPng::Piece>& pieces) {
    TemporaryFile temporary(to);
    if (!OneBitPng::write(temporary.file(), frame.width, frame.height, pieces) ||
        std::fflush(temporary.file()) != 0 || std::ferror(temporary.file()) != 0) {
        fail(DisplayError::save);
    }
    temporary.setOwnerOnlyMode();
    temporary.close();
    temporary.replace(to);
}

Frame draw(const std::filesystem::path& pdf, DisplayModel model, unsigned threads,
           std::vector<OneBitPng::Piece>* pieces) {
    Frame frame{width(model), height(model), {}};
    if (pieces == nullptr) {
        frame.packed.resize(static_cast<std::size_t>(frame.width / 8) * frame.height);
    }
    const File file = openRegularFile(pdf);
    Locks locks;
    const Context context = newContext(locks);
    const SharedImages* sharedImages = nullptr;
    fz_set_user_context(context.get(), &sharedImages);
    SharedImages images(context.get(), sharedImages);
    // Declared before the crew, which ends its threads before these go.
    Document document(nullptr, {context.get()});
    std::optional<FrontPage> front;
    DisplayList list(nullptr, {context.get()});
    FrameWork work(images, frame, bandCount(model), pieces);
    Crew crew(context.get(), work,
              std::clamp(threads == 0 ? availableCores() : threads, 1U, maximumThreads));

    document = openIssue(context.get(), file.get());
    front = loadFrontPage(context.get(), document.get(), frame.width, frame.height);
    ImageFinder::find(context.get(), document.get(), *front, images);
    work.openImages(images.share());
    list = recordFrontPage(context.get(), *front, frame.width, frame.height);
    images.noteAll(list.get());
    work.openBands(list.get(), front->area, images.share());
    crew.finish(context.get());
    if (work.failed()) {
        fail(DisplayError::render);
    }
    return frame;
}

} // namespace

Frame rasterize(const std::filesystem::path& pdf, DisplayModel model, unsigned threads) {
    return draw(pdf, model, threads, nullptr);
}

void render(const std::filesystem::path& pdf, const std::filesystem::path& to, DisplayModel model) {
    std::vector<OneBitPng::Piece> pieces;
    const Frame frame = draw(pdf, model, 0, &pieces);
    savePng(to, frame, pieces);
}

} // namespace quillo::DisplayRenderer

extern "C" bool quilloRenderDisplayFrame(const std::string& pdf, const std::string& to,
                                         quillo::DisplayModel model, std::string& failure) {
    try {
        quillo::DisplayRenderer::render(pdf, to, model);
        return true;
    } catch (const std::exception& error) {
        failure = error.what();
        return false;
    }
}
