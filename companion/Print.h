#pragma once

#include "companion/Outcome.h"

#include <string>

namespace quillo::companion {

struct PrintRequest {
    std::string printer;
    int maxPages = 1;
    std::string issue;
    std::string sha256;
};

// `print`: sends the cached, validated issue to a CUPS queue once, pages 1 to
// max-pages, unless the service refuses delivery now or it was printed before.
Outcome print(const PrintRequest& request);

} // namespace quillo::companion
