#include "kit/DisplayRenderer.h"

#include "kit/OneBitPng.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

Document openIssue(fz_context* context, std::FILE* file) {
    const Stream stream(guarded(context, DisplayError::invalidPDF,
                                [&] { return fz_open_file_ptr_no_close(context, file); }),
                        {context});
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

// Records the front page's whole media box, fitted and centred in a frame of
// the given size, in device space: the bands replay it.
DisplayList recordFrontPage(fz_context* context, pdf_document* document, int width, int height) {
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
    const Page page(guarded(context, DisplayError::invalidPDF,
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
        pdf_run_page(context, page.get(), device.get(), transform, nullptr);
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
// decode per subsampling factor, and the images are decoded up front, on all
// threads at once, biggest first.
class SharedImages {
public:
    // `slot` is what the context's user pointer points at: the contexts of the
    // band threads are cloned before the page is read, and find the images
    // through it.
    SharedImages(fz_context* context, fz_display_list* list, const SharedImages*& slot)
        : context_(context), slot_(slot) {
        collect(list);
        std::sort(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
            return a->image->w * static_cast<long>(a->image->h) >
                   b->image->w * static_cast<long>(b->image->h);
        });
        for (const auto& entry : entries_) {
            entry->decode = std::exchange(entry->image->get_pixmap, sharedPixmap);
        }
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
    }

    [[nodiscard]] int count() const { return static_cast<int>(entries_.size()); }

    // Decodes image `index` as the page draws it; a failure is left for the
    // band that draws the image, where MuPDF skips what it cannot decode.
    void decode(fz_context* context, int index) const noexcept {
        const Entry& entry = *entries_.at(static_cast<std::size_t>(index));
        fz_matrix transform = entry.transform;
        fz_try(context) {
            fz_drop_pixmap(context, fz_get_pixmap_from_image(context, entry.image, nullptr,
                                                             &transform, nullptr, nullptr));
        }
        fz_catch(context) {}
    }

private:
    static constexpr int factors = 8;

    struct Entry {
        fz_image* image = nullptr;
        fz_matrix transform{};
        fz_image_get_pixmap_fn* decode = nullptr;
        std::mutex mutex;
        std::array<fz_pixmap*, factors> decoded{};
        std::array<int, factors> remaining{};
    };

    struct Collector {
        fz_device super;
        SharedImages* owner = nullptr;
        bool incomplete = false;
    };

    static void collectImage(fz_context* context, fz_device* device, fz_image* image,
                             fz_matrix transform, float /*alpha*/, fz_color_params /*color*/) {
        auto* collector = reinterpret_cast<Collector*>(device);
        auto& entries = collector->owner->entries_;
        const bool compressed = fz_compressed_image_buffer(context, image) != nullptr;
        if (!compressed || image->scalable || image->decoded ||
            std::any_of(entries.begin(), entries.end(),
                        [image](const auto& entry) { return entry->image == image; })) {
            return;
        }
        try {
            auto entry = std::make_unique<Entry>();
            entry->image = image;
            entry->transform = transform;
            entries.push_back(std::move(entry));
        } catch (const std::bad_alloc&) {
            collector->incomplete = true;
        }
    }

    void collect(fz_display_list* list) {
        auto* collector = reinterpret_cast<Collector*>(guarded(context_, DisplayError::render, [&] {
            return fz_new_device_of_size(context_, sizeof(Collector));
        }));
        collector->owner = this;
        collector->incomplete = false;
        collector->super.fill_image = collectImage;
        const Device device(&collector->super, {context_});
        guarded(context_, DisplayError::render, [&] {
            fz_run_display_list(context_, list, device.get(), fz_identity, fz_infinite_rect,
                                nullptr);
            fz_close_device(context_, device.get());
        });
        if (collector->incomplete) {
            fail(DisplayError::render);
        }
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

    // Called by MuPDF from any band thread, inside its own error handling:
    // no C++ object with a destructor may live across the calls that can
    // throw, so the mutex is released in fz_always.
    static fz_pixmap* sharedPixmap(fz_context* context, fz_image* image, fz_irect* subarea, int w,
                                   int h, int* l2factor) {
        const auto* shared = *static_cast<const SharedImages* const*>(fz_user_context(context));
        Entry* entry = nullptr;
        for (const auto& candidate : shared->entries_) {
            if (candidate->image == image) {
                entry = candidate.get();
            }
        }
        bool locked = entry != nullptr;
        try {
            if (locked) {
                entry->mutex.lock();
            }
        } catch (const std::system_error&) {
            locked = false;
        }
        if (!locked) {
            fz_throw(context, FZ_ERROR_GENERIC, "image not shared");
        }
        const auto factor = static_cast<std::size_t>(std::clamp(*l2factor, 0, factors - 1));
        fz_pixmap* pixmap = nullptr;
        fz_try(context) {
            if (entry->decoded[factor] == nullptr) {
                int remaining = static_cast<int>(factor);
                entry->decoded[factor] =
                    toGray(context, entry->decode(context, image, nullptr, w, h, &remaining));
                entry->remaining[factor] = remaining;
            }
            // What is left to subsample, the caller does in place: on a copy.
            pixmap = entry->remaining[factor] == 0
                         ? fz_keep_pixmap(context, entry->decoded[factor])
                         : fz_clone_pixmap(context, entry->decoded[factor]);
        }
        fz_always(context) {
            entry->mutex.unlock();
        }
        fz_catch(context) {
            fz_rethrow(context);
        }
        *l2factor = entry->remaining[factor];
        if (subarea != nullptr) {
            *subarea = fz_make_irect(0, 0, image->w, image->h);
        }
        return pixmap;
    }

    fz_context* context_;
    const SharedImages*& slot_;
    std::vector<std::unique_ptr<Entry>> entries_;
};

// Draws frame rows [top, bottom) onto white in `buffer`, which holds the
// thread's largest band, and packs those rows into the frame.
void drawBand(fz_context* context, fz_display_list* list, unsigned char* buffer, Frame& frame,
              int top, int bottom) {
    const fz_irect rows = fz_make_irect(0, top, frame.width, bottom);
    const Pixmap pixmap(guarded(context, DisplayError::render,
                                [&] {
                                    return fz_new_pixmap_with_bbox_and_data(
                                        context, fz_device_gray(context), rows, nullptr, 0, buffer);
                                }),
                        {context});
    fz_clear_pixmap_with_value(context, pixmap.get(), 255);
    const Device device(
        guarded(context, DisplayError::render,
                [&] { return fz_new_draw_device(context, fz_identity, pixmap.get()); }),
        {context});
    guarded(context, DisplayError::render, [&] {
        fz_run_display_list(context, list, device.get(), fz_identity, fz_rect_from_irect(rows),
                            nullptr);
        fz_close_device(context, device.get());
    });
    const std::size_t rowBytes = static_cast<std::size_t>(frame.width) / 8;
    for (int y = top; y < bottom; ++y) {
        thresholdRow(buffer + static_cast<std::ptrdiff_t>(y - top) * frame.width,
                     frame.packed.data() + static_cast<std::size_t>(y) * rowBytes, frame.width);
    }
}

// The work of one frame: first the shared images, then the bands, taken in
// turn by whichever thread is free. A failure on any thread stops the others
// and is reported once they have finished.
class FrameWork {
public:
    // With `pieces`, each band is compressed too, into the piece of its number.
    FrameWork(fz_display_list* list, const SharedImages& images, Frame& frame, int bandCount,
              std::vector<OneBitPng::Piece>* pieces)
        : list_(list), images_(images), frame_(frame), bandCount_(bandCount), pieces_(pieces) {
        if (pieces_ != nullptr) {
            pieces_->resize(static_cast<std::size_t>(bandCount_));
        }
    }

    void doAll(fz_context* context) noexcept {
        try {
            std::unique_ptr<unsigned char[]> buffer;
            for (int job = next_++; job < images_.count() + bandCount_ && !failed_; job = next_++) {
                if (job < images_.count()) {
                    images_.decode(context, job);
                    continue;
                }
                if (!buffer) {
                    const int tallest = (frame_.height + bandCount_ - 1) / bandCount_;
                    buffer = std::make_unique_for_overwrite<unsigned char[]>(
                        static_cast<std::size_t>(frame_.width) * tallest);
                }
                const int band = job - images_.count();
                const int top = frame_.height * band / bandCount_;
                const int bottom = frame_.height * (band + 1) / bandCount_;
                drawBand(context, list_, buffer.get(), frame_, top, bottom);
                const std::size_t rowBytes = static_cast<std::size_t>(frame_.width) / 8;
                if (pieces_ != nullptr &&
                    !OneBitPng::compress(frame_.packed.data() + top * rowBytes, rowBytes,
                                         bottom - top, band + 1 == bandCount_,
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
    fz_display_list* list_;
    const SharedImages& images_;
    Frame& frame_;
    int bandCount_;
    std::vector<OneBitPng::Piece>* pieces_;
    std::atomic<int> next_{0};
    std::atomic<bool> failed_{false};
};

unsigned availableCores() {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof cores, &cores) == 0 && CPU_COUNT(&cores) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&cores));
    }
    return std::max(1U, std::thread::hardware_concurrency());
}

constexpr unsigned maximumThreads = 4;

// The frame is always drawn in the same two bands, whatever the number of
// threads: MuPDF clips a path's edges to the band it draws into, which can
// move an anti-aliased edge pixel by a step, so the bands, not the threads,
// decide the frame. Every band repeats MuPDF's walk over all of the page's
// glyphs, so more bands cost more than they balance (measured on the sample
// issue); the photographs, decoded as jobs of their own, fill the gaps.
constexpr int bandCount = 2;

// The threads that draw a frame beside the caller's. They start, each with a
// clone of the caller's context, while the caller reads the page, so that
// starting them costs the frame nothing, and wait until there is work.
class Crew {
public:
    Crew(fz_context* context, unsigned size) {
        // Reserved first: a helper, once started, is joined only after release.
        helpers_.reserve(size);
        for (unsigned index = 1; index < size; ++index) {
            Context clone(fz_clone_context(context));
            if (!clone) {
                break;
            }
            silence(clone.get());
            try {
                helpers_.emplace_back(
                    [this, clone = std::move(clone)]() mutable { help(clone.get()); });
            } catch (const std::system_error&) {
                break; // fewer threads; the caller's takes the rest
            }
        }
    }
    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;
    ~Crew() {
        if (state_.load() == waiting) {
            release(stopped);
        }
    }

    // Returns once the caller and every helper have run out of work.
    void run(fz_context* context, FrameWork& work) {
        work_ = &work;
        release(working);
        work.doAll(context);
        helpers_.clear();
    }

private:
    enum State { waiting, working, stopped };

    void release(State state) {
        state_.store(state, std::memory_order_release);
        state_.notify_all();
    }

    // Until then a helper yields rather than sleeps, for a while: waking an
    // idle core took up to milliseconds on the virtual machine measured, and
    // a yielding thread leaves the core to any other thread that wants it.
    void help(fz_context* context) noexcept {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
        while (state_.load(std::memory_order_acquire) == waiting &&
               std::chrono::steady_clock::now() < until) {
            std::this_thread::yield();
        }
        state_.wait(waiting, std::memory_order_acquire);
        if (state_.load(std::memory_order_acquire) == working) {
            work_->doAll(context);
        }
    }

    std::atomic<State> state_{waiting};
    FrameWork* work_ = nullptr;
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
    const File file = openRegularFile(pdf);
    Locks locks;
    const Context context = newContext(locks);
    const SharedImages* sharedImages = nullptr;
    fz_set_user_context(context.get(), &sharedImages);
    Crew crew(context.get(),
              std::clamp(threads == 0 ? availableCores() : threads, 1U, maximumThreads));
    const Document document = openIssue(context.get(), file.get());
    const DisplayList list =
        recordFrontPage(context.get(), document.get(), frame.width, frame.height);
    frame.packed.resize(static_cast<std::size_t>(frame.width / 8) * frame.height);
    const SharedImages images(context.get(), list.get(), sharedImages);
    FrameWork work(list.get(), images, frame, bandCount, pieces);
    crew.run(context.get(), work);
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
