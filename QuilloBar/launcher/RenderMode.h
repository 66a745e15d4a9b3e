#pragma once

namespace quillo {

// Render mode: a render request on standard input, one line out, status 0 or 1.
int runRenderMode();

} // namespace quillo
