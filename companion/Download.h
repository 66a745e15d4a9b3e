#pragma once

#include "companion/Outcome.h"

namespace quillo::companion {

// `download --max-pages N`: asks the service for the latest issue and, when it
// is new, downloads and validates it into the feed's cache. Prints one JSON
// object on success.
Outcome download(int maxPages);

} // namespace quillo::companion
