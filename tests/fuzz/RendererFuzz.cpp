// The display frame renderer on a PDF written to a scratch file: a frame, when
// there is one, is the plain whole-page draw. Inputs over a few hundred KiB
// are skipped: they slow the search and add nothing a smaller one cannot reach.
#include "kit/DisplayRenderer.h"
#include "tests/fuzz/FuzzTarget.h"
#include "tests/support/ReferenceFrame.h"

void quillo::fuzz::testOne(std::string_view input) {
    if (input.size() > std::size_t{384} << 10) {
        return;
    }
    const auto pdf = scratchFile("issue.pdf", input);
    try {
        const auto frame = DisplayRenderer::rasterize(pdf, DisplayModel::og);
        require(frame.width == 800 && frame.height == 480 &&
                    frame.packed.size() == std::size_t{800} / 8 * 480,
                "a frame has the model's size");
        const auto reference = testing::referenceFrame(pdf, frame.width, frame.height);
        require(reference && frame.packed == *reference, "a frame is the whole page drawn at once");
    } catch (const DisplayError&) {
    }
}
