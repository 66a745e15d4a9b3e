#include "QuilloBar/HeadlessModes.h"

#include <cerrno>
#include <unistd.h>

namespace quillo {

QByteArray readAllStandardInput() {
    QByteArray input;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count > 0) {
            input.append(buffer, count);
        } else if (count == 0 || errno != EINTR) {
            // A read error ends the input like end of file; the parser then
            // reports what it got.
            return input;
        }
    }
}

} // namespace quillo
