// What a command ends in: an exit status and one line for the reader.
#pragma once

#include <string>

namespace quillo::companion {

struct Outcome {
    // 0 done (or nothing to do), 1 failed.
    int status = 1;
    std::string line;
};

inline Outcome done(std::string line) {
    return {0, std::move(line)};
}

inline Outcome failed(std::string line) {
    return {1, std::move(line)};
}

} // namespace quillo::companion
