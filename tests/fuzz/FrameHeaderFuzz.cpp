// The companion tool's check of a display frame before it is uploaded.
#include "companion/Sync.h"
#include "tests/fuzz/FuzzTarget.h"

void quillo::fuzz::testOne(std::string_view png) {
    for (const auto& [width, height] : {std::pair{800, 480}, {1872, 1404}, {-1, 0}}) {
        if (companion::isOneBitFrame(png, width, height)) {
            require(png.size() >= 33 && png[24] == 1 && png[25] == 0,
                    "an accepted frame has a 1-bit gray header");
        }
    }
}
