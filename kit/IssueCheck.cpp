#include "kit/IssueCheck.h"

#include "kit/IssueFile.h"
#include "kit/MuPdfCall.h"

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo::IssueCheck {
namespace {

constexpr float letterWidth = 612;
constexpr float letterHeight = 792;
constexpr float tolerance = 1;

void ignoreMessage(void* /*user*/, const char* /*message*/) {}

template <typename Operation>
auto attempt(fz_context* context, Operation operation) -> std::optional<decltype(operation())> {
    std::optional<decltype(operation())> result;
    if (!kit::completes(context, [&] { result = operation(); })) {
        return std::nullopt;
    }
    return result;
}

bool isLetterAsShown(fz_context* context, pdf_obj* page) {
    pdf_obj* boxObject = pdf_dict_get_inheritable(context, page, PDF_NAME(MediaBox));
    if (!pdf_is_array(context, boxObject) || pdf_array_len(context, boxObject) != 4) {
        return false;
    }
    const fz_rect box = pdf_to_rect(context, boxObject);
    float width = std::abs(box.x1 - box.x0);
    float height = std::abs(box.y1 - box.y0);
    const int rotation =
        pdf_to_int(context, pdf_dict_get_inheritable(context, page, PDF_NAME(Rotate)));
    if (rotation % 90 != 0) {
        return false;
    }
    if (rotation % 180 != 0) {
        std::swap(width, height);
    }
    return std::abs(width - letterWidth) <= tolerance &&
           std::abs(height - letterHeight) <= tolerance;
}

} // namespace

Result check(const std::filesystem::path& pdf) {
    const kit::Context owner(fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT));
    fz_context* context = owner.get();
    if (context == nullptr) {
        return {0, Problem::unreadable, 0};
    }
    // Warnings about damage go nowhere: the result says all there is.
    fz_set_warning_callback(context, ignoreMessage, nullptr);
    fz_set_error_callback(context, ignoreMessage, nullptr);

    // Opened without following a last link and without blocking, and read
    // only as a regular file: a FIFO or a device put in the issue's place
    // after its hash was checked would hang the check or feed it forever.
    const int descriptor = ::open(pdf.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    struct stat status {};
    std::FILE* openedFile = nullptr;
    if (descriptor < 0 || ::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
        (openedFile = ::fdopen(descriptor, "rb")) == nullptr) {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
        return {0, Problem::unreadable, 0};
    }
    const kit::File file(openedFile);
    const auto stream =
        attempt(context, [&] { return fz_open_file_ptr_no_close(context, file.get()); });
    if (!stream || *stream == nullptr) {
        return {0, Problem::unreadable, 0};
    }
    const kit::Stream streamOwner(*stream, {context});
    const auto opened =
        attempt(context, [&] { return pdf_open_document_with_stream(context, streamOwner.get()); });
    if (!opened || *opened == nullptr) {
        return {0, Problem::unreadable, 0};
    }
    const kit::Document document(*opened, {context});

    const auto pages = attempt(context, [&] {
        return pdf_needs_password(context, document.get())
                   ? -1
                   : pdf_count_pages(context, document.get());
    });
    if (!pages || *pages < 0) {
        return {0, Problem::unreadable, 0};
    }
    Result result{*pages, std::nullopt, 0};
    if (*pages < 1 || *pages > maximumPages) {
        result.problem = Problem::pageCount;
    }
    for (int index = 0; !result.problem && index < *pages; ++index) {
        const auto letter = attempt(context, [&] {
            return isLetterAsShown(context, pdf_lookup_page_obj(context, document.get(), index));
        });
        if (!letter) {
            result.problem = Problem::unreadable;
        } else if (!*letter) {
            result.problem = Problem::pageSize;
            result.badPage = index + 1;
        }
    }
    // MuPDF repairs a damaged file quietly, also while it looks pages up.
    if (pdf_was_repaired(context, document.get()) != 0) {
        result.problem = Problem::unreadable;
    }
    return result;
}

} // namespace quillo::IssueCheck
