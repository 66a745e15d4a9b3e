#include "kit/IssueFile.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo::kit {
namespace {

constexpr double letterWidth = 612.0;
constexpr double letterHeight = 792.0;
constexpr double sizeTolerance = 0.1;
constexpr int maximumPages = 4;

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

bool isUnrotatedLetter(fz_context* context, pdf_obj* page) {
    const auto box = mediaBoxOf(context, page);
    if (!box || std::abs(box->width - letterWidth) >= sizeTolerance ||
        std::abs(box->height - letterHeight) >= sizeTolerance) {
        return false;
    }
    return pdf_to_int(context, pdf_dict_get_inheritable(context, page, PDF_NAME(Rotate))) == 0;
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

} // namespace

std::optional<MediaBox> mediaBoxOf(fz_context* context, pdf_obj* page) {
    pdf_obj* box = pdf_dict_get_inheritable(context, page, PDF_NAME(MediaBox));
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

} // namespace quillo::kit
