#include "QuilloBar/HeadlessModes.h"

#include <cstdio>

namespace quillo {

// Storing a printer connection needs the preferences and the keyring, which
// are not built yet; until then every request fails the documented way.
int runConfigureMode() {
    std::fputs("Could not configure Quillo.\n", stderr);
    return 1;
}

} // namespace quillo
