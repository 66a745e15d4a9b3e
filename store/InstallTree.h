// Where the program's files live, relative to the install root: the parent of
// the folder that holds the running executable. The build tree has the same
// layout, so a build runs in place and an installed tree can be moved.
#pragma once

#include <filesystem>
#include <string_view>

namespace quillo::InstallTree {

inline constexpr std::string_view executable = "bin/quillo-bar";
inline constexpr std::string_view kitLibrary = "lib/quillo/libquillo-kit.so";
inline constexpr std::string_view applicationModule = "lib/quillo/libquillo-app.so";
inline constexpr std::string_view configureModule = "lib/quillo/libquillo-configure.so";
inline constexpr std::string_view companionTool = "libexec/quillo/quillo-print";
inline constexpr std::string_view buildManifest = "share/quillo/build-manifest";

// The install root of the running process, found through /proc/self/exe.
// Empty when the executable's location cannot be read.
std::filesystem::path root();

} // namespace quillo::InstallTree
