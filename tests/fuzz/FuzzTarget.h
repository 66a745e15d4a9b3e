// What the fuzz targets share. Each target defines LLVMFuzzerTestOneInput;
// libFuzzer drives it in the fuzz build, Replay.cpp in the normal one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace quillo::fuzz {

inline std::string_view bytes(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// A broken promise of the code under test is a finding like a crash.
inline void require(bool holds, const char* promise) {
    if (!holds) {
        std::fprintf(stderr, "promise broken: %s\n", promise);
        std::abort();
    }
}

// A private folder for one process's scratch files, removed when it ends.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace quillo::fuzz
