// Configure mode, built into the configure module: it needs Qt Core and the
// keyring, which the executable itself does not load.
#pragma once

namespace quillo {

// Exit status 0 on success, 1 on failure (one line on stderr).
int runConfigureMode();

} // namespace quillo
