#pragma once

#include "companion/Outcome.h"

#include <string>

namespace quillo::companion {

struct SyncRequest {
    std::string image;
    std::string issue;
    int width = 0;
    int height = 0;
};

// `sync`: uploads a display frame to the TRMNL image webhook named by
// QUILLO_EINK_WEBHOOK, unless that webhook last received this very frame.
Outcome sync(const SyncRequest& request);

} // namespace quillo::companion
