// Both programs hold secrets (the delivery key, the webhook) or parse issues
// that came from outside: a crash must leave no core file holding them, and
// no other process of the reader may trace them. Children inherit the zero
// core size.
#pragma once

#include <sys/prctl.h>
#include <sys/resource.h>

namespace quillo {

inline void disableCoreDumps() {
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
}

} // namespace quillo
