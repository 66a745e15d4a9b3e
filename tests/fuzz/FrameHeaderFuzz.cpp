// The companion tool's check of a display frame before it is uploaded.
#include "companion/Sync.h"
#include "tests/fuzz/FuzzTarget.h"

#include <array>
#include <utility>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view png = quillo::fuzz::bytes(data, size);
    for (const auto& [width, height] :
         std::array<std::pair<int, int>, 3>{{{800, 480}, {1872, 1404}, {-1, 0}}}) {
        if (quillo::companion::isOneBitFrame(png, width, height)) {
            quillo::fuzz::require(size >= 33 && png[24] == 1 && png[25] == 0,
                                  "an accepted frame has a 1-bit gray header");
        }
    }
    return 0;
}
