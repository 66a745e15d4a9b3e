// Configure mode, built into the configure module: it needs Qt Core and the
// keyring, which the executable itself does not load.
#pragma once

#include <QByteArray>

namespace quillo {

// The whole of standard input, read to end of file.
QByteArray readAllStandardInput();

// Exit status 0 on success, 1 on failure (one line on stderr).
int runConfigureMode();

} // namespace quillo
