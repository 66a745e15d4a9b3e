#include "QuilloBar/launcher/RenderMode.h"

#include "QuilloBar/launcher/Module.h"
#include "QuilloBar/launcher/RenderRequest.h"
#include "QuilloBar/launcher/StandardInput.h"
#include "kit/DisplayRenderer.h"
#include "store/InstallTree.h"

#include <cstdio>
#include <exception>
#include <malloc.h>
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
    // One frame, then the process ends: blocks freed during the frame (decoded
    // photographs, compression buffers) are kept for the next allocation,
    // rather than handed back to the system and faulted in afresh.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    // Opened from the install root rather than linked, so that a program that
    // cannot find its own folder stops before anything is loaded.
    Module kit(InstallTree::kitLibrary, Module::Binding::lazy);
    auto* renderFrame = kit.entry<DisplayRenderer::RenderEntry>(DisplayRenderer::renderEntryName);
    if (renderFrame == nullptr) {
        return fail(kit.error().c_str());
    }
    kit.keepLoaded();
    const RenderRequest& request = reading.request;
    std::string failure;
    if (!renderFrame(request.pdf, request.output, request.model, failure)) {
        return fail(failure.c_str());
    }
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
