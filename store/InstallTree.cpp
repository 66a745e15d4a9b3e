#include "store/InstallTree.h"

#include <system_error>

namespace quillo::InstallTree {

std::filesystem::path root() {
    std::error_code error;
    const auto executablePath = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    return executablePath.parent_path().parent_path();
}

} // namespace quillo::InstallTree
