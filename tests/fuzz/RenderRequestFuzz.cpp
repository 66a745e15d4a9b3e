#include "QuilloBar/launcher/RenderRequest.h"
#include "tests/fuzz/FuzzTarget.h"

void quillo::fuzz::testOne(std::string_view input) {
    const RenderRequestReading reading = readRenderRequest(input);
    if (reading.outcome == RenderRequestParse::notJson) {
        require(!reading.failure.empty(), "a parse failure is described");
    }
}
