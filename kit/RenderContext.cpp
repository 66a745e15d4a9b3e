#include "kit/RenderContext.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillo::kit {
namespace {

void ignoreMessage(void* /*user*/, const char* /*message*/) {}

void silence(fz_context* context) {
    fz_set_warning_callback(context, ignoreMessage, nullptr);
    fz_set_error_callback(context, ignoreMessage, nullptr);
}

void pause() {
#if defined(__SSE2__)
    _mm_pause();
#endif
}

} // namespace

Locks::State& Locks::state(void* user, int index) {
    return static_cast<Locks*>(user)->lines_.at(static_cast<std::size_t>(index)).state;
}

void Locks::lock(void* user, int index) {
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

void Locks::unlock(void* user, int index) {
    State& held = state(user, index);
    if (held.exchange(0, std::memory_order_release) == 2) {
        held.notify_one();
    }
}

Context newContext(Locks& locks) {
    Context context(fz_new_context(nullptr, locks.callbacks(), FZ_STORE_DEFAULT));
    if (!context) {
        fail(DisplayError::render);
    }
    silence(context.get());
    return context;
}

Context cloneContext(fz_context* context) {
    Context clone(fz_clone_context(context));
    if (clone) {
        silence(clone.get());
    }
    return clone;
}

} // namespace quillo::kit
