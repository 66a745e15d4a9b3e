// Calling MuPDF from C++: its longjmp failures turned into results or
// exceptions, and its objects held by owning handles.
#pragma once

#include "kit/DeliveryKit.h"

#include <memory>
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
#include <type_traits>

namespace quillo::kit {

// MuPDF reports failures by longjmp. Each call into it runs inside its own
// fz_try with only trivially destructible locals; the caller learns whether
// the call returned, once the MuPDF frame has been left.
template <typename Operation> bool completes(fz_context* context, Operation&& operation) {
    bool failed = false;
    fz_try(context) {
        operation();
    }
    fz_catch(context) {
        failed = true;
    }
    return !failed;
}

[[noreturn]] inline void fail(DisplayError::Case failure) {
    throw DisplayError(failure);
}

// A failed MuPDF call becomes the given DisplayError.
template <typename Operation>
auto guarded(fz_context* context, DisplayError::Case failure, Operation operation) {
    using Result = decltype(operation());
    if constexpr (std::is_void_v<Result>) {
        if (!completes(context, operation)) {
            fail(failure);
        }
    } else {
        Result result{};
        if (!completes(context, [&] { result = operation(); })) {
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

struct PageDropper {
    fz_context* context;
    void operator()(pdf_page* page) const { fz_drop_page(context, &page->super); }
};

using Stream = std::unique_ptr<fz_stream, Dropper<fz_stream, fz_drop_stream>>;
using Document = std::unique_ptr<pdf_document, Dropper<pdf_document, pdf_drop_document>>;
using Page = std::unique_ptr<pdf_page, PageDropper>;
using Pixmap = std::unique_ptr<fz_pixmap, Dropper<fz_pixmap, fz_drop_pixmap>>;
using Device = std::unique_ptr<fz_device, Dropper<fz_device, fz_drop_device>>;

} // namespace quillo::kit
