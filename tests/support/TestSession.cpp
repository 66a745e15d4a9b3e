#include "tests/support/TestSession.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo::testing {
namespace {

bool liesInside(const std::filesystem::path& folder, const char* path) {
    std::error_code error;
    const auto real = path != nullptr ? std::filesystem::weakly_canonical(path, error) : "";
    const auto relative = real.lexically_relative(folder);
    return !error && !real.empty() && !relative.empty() && *relative.begin() != "..";
}

} // namespace

std::optional<std::string> outsidePrivateSession() {
    const char* marker = std::getenv("QUILLO_TEST_SANDBOX");
    std::error_code error;
    const auto sandbox = std::filesystem::canonical(marker != nullptr ? marker : "", error);
    struct stat status {};
    if (error || ::stat(sandbox.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::getuid() || (status.st_mode & 077) != 0) {
        return "QUILLO_TEST_SANDBOX names no private folder of this user";
    }
    for (const char* name :
         {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        if (!liesInside(sandbox, std::getenv(name))) {
            return std::string(name) + " lies outside " + sandbox.string();
        }
    }
    // One plain socket address, e.g. "unix:path=/tmp/quillo-tests.x/bus/dbus-y,guid=z".
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string_view address = bus != nullptr ? bus : "";
    const std::string_view prefix = "unix:path=";
    const std::string socket(
        address.substr(std::min(prefix.size(), address.size()), address.find(',') - prefix.size()));
    if (!address.starts_with(prefix) || address.find_first_of(";%") != std::string_view::npos ||
        !liesInside(sandbox, socket.c_str()) || ::stat(socket.c_str(), &status) != 0 ||
        !S_ISSOCK(status.st_mode)) {
        return "the session bus is not the one inside " + sandbox.string();
    }
    return std::nullopt;
}

} // namespace quillo::testing
