#include "QuilloBar/RenderMode.h"

#include "QuilloBar/RenderRequest.h"
#include "QuilloBar/StandardInput.h"
#include "kit/DisplayRenderer.h"

#include <cstdio>
#include <exception>
#include <string>

namespace quillo {
namespace {

int fail(const char* description) {
    std::fprintf(stderr, "Could not render display frame: %s\n", description);
    return 1;
}

int render() {
    const RenderRequestReading reading = readRenderRequest(readStandardInputToEnd());
    switch (reading.outcome) {
    case RenderRequestParse::notJson:
        return fail(reading.failure.c_str());
    case RenderRequestParse::malformed:
        // A malformed request reads like an issue that fails the page check.
        return fail(DisplayError(DisplayError::invalidPDF).what());
    case RenderRequestParse::valid:
        break;
    }
    const RenderRequest& request = reading.request;
    DisplayRenderer::render(request.pdf, request.output, request.model);
    std::fputs("Rendered local 1-bit front-page image. No upload or print.\n", stdout);
    return 0;
}

} // namespace

int runRenderMode() {
    try {
        return render();
    } catch (const std::exception& error) {
        return fail(error.what());
    }
}

} // namespace quillo
