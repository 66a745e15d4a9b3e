// The MuPDF context of one frame, quiet, with the locks its clones need: the
// photographs are decoded on a thread of their own, in a clone of it.
#pragma once

#include "kit/MuPdfCall.h"

#include <array>
#include <atomic>

namespace quillo::kit {

// The locks MuPDF asks for once a context is cloned. It takes them around
// every allocation and glyph cache lookup and holds them for a moment only,
// so a waiting thread spins a little before it sleeps.
class Locks {
public:
    Locks() = default;
    Locks(const Locks&) = delete;
    Locks& operator=(const Locks&) = delete;

    fz_locks_context* callbacks() { return &callbacks_; }

private:
    // 0 free, 1 held, 2 held with a thread asleep waiting for it.
    using State = std::atomic<int>;
    // One cache line each: the allocation lock is taken tens of thousands of
    // times a frame, from both threads.
    struct alignas(64) Line {
        State state{0};
    };

    static State& state(void* user, int index);
    static void lock(void* user, int index);
    static void unlock(void* user, int index);

    std::array<Line, FZ_LOCK_MAX> lines_{};
    fz_locks_context callbacks_{this, lock, unlock};
};

// A fresh context per frame keeps the renderer free of shared state. Its
// warnings and errors are dropped, since render mode's stderr belongs to the
// one failure line. Throws `render` when there is no memory for it.
Context newContext(Locks& locks);

// A clone for another thread, as quiet; null when it cannot be made.
Context cloneContext(fz_context* context);

} // namespace quillo::kit
