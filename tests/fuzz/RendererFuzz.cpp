// The display frame renderer on a PDF written to a scratch file. Inputs over
// a few hundred KiB are skipped: they slow the search and add nothing a
// smaller one cannot reach.
#include "kit/DisplayRenderer.h"
#include "tests/fuzz/FuzzTarget.h"

#include <fstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillo;
    if (size > std::size_t{384} << 10) {
        return 0;
    }
    static const fuzz::ScratchFolder scratch;
    const auto pdf = scratch.path() / "issue.pdf";
    {
        std::ofstream file(pdf, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        fuzz::require(file.good(), "the issue can be written");
    }
    try {
        const auto frame = DisplayRenderer::rasterize(pdf, DisplayModel::og, 1);
        fuzz::require(frame.width == 800 && frame.height == 480 &&
                          frame.packed.size() == std::size_t{800} / 8 * 480,
                      "a frame has the model's size");
    } catch (const DisplayError&) {
    }
    return 0;
}
