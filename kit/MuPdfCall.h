#pragma once

#include <mupdf/fitz.h>

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

} // namespace quillo::kit
