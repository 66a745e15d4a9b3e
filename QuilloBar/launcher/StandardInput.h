#pragma once

#include <cerrno>
#include <string>
#include <unistd.h>

namespace quillo {

// The whole of standard input, read to end of file. A read error ends the
// input like end of file; the JSON parser then reports what it got.
inline std::string readStandardInputToEnd() {
    std::string input;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count > 0) {
            input.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            return input;
        }
    }
}

} // namespace quillo
