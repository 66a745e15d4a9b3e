// What the fuzz targets share. Each target defines testOne; libFuzzer drives
// it through FuzzEntry.cpp in the fuzz build, Replay.cpp in the normal one.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

namespace quillo::fuzz {

void testOne(std::string_view input);

// A broken promise of the code under test is a finding like a crash.
inline void require(bool holds, const char* promise) {
    if (!holds) {
        std::fprintf(stderr, "promise broken: %s\n", promise);
        std::abort();
    }
}

// A private folder for this process's scratch files, removed when it ends.
inline const std::filesystem::path& scratchFolder() {
    static const struct Folder {
        std::filesystem::path path = [] {
            std::string pattern = std::filesystem::temp_directory_path() / "quillo-fuzz.XXXXXX";
            require(::mkdtemp(pattern.data()) != nullptr, "a scratch folder can be made");
            return pattern;
        }();
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } folder;
    return folder.path;
}

// Writes the bytes to a file in the scratch folder (a name, or a path within it).
inline std::filesystem::path scratchFile(const std::filesystem::path& name,
                                         std::string_view bytes) {
    const auto path = scratchFolder() / name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    require(file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).good(),
            "a scratch file can be written");
    return path;
}

} // namespace quillo::fuzz
