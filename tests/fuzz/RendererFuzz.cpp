// The display frame renderer on a PDF written to a scratch file. Inputs over
// a few hundred KiB are skipped: they slow the search and add nothing a
// smaller one cannot reach.
#include "kit/DisplayRenderer.h"
#include "tests/fuzz/FuzzTarget.h"

void quillo::fuzz::testOne(std::string_view input) {
    if (input.size() > std::size_t{384} << 10) {
        return;
    }
    try {
        const auto frame =
            DisplayRenderer::rasterize(scratchFile("issue.pdf", input), DisplayModel::og);
        require(frame.width == 800 && frame.height == 480 &&
                    frame.packed.size() == std::size_t{800} / 8 * 480,
                "a frame has the model's size");
    } catch (const DisplayError&) {
    }
}
