#include "QuilloBar/RenderRequest.h"
#include "tests/fuzz/FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillo;
    const RenderRequestReading reading = readRenderRequest(fuzz::bytes(data, size));
    if (reading.outcome == RenderRequestParse::notJson) {
        fuzz::require(!reading.failure.empty(), "a parse failure is described");
    }
    return 0;
}
