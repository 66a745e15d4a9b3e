// The two modes that run without a window, display or D-Bus session. They
// link only Qt Core so that scripts calling them start fast.
#pragma once

#include <QByteArray>

namespace quillo {

// The whole of standard input, read to end of file.
QByteArray readAllStandardInput();

// Exit statuses: 0 on success, 1 on failure (one line on stderr).
int runRenderMode();
int runConfigureMode();

} // namespace quillo
