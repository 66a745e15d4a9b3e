#include "QuilloBar/RenderMode.h"

#include "QuilloBar/Module.h"
#include "QuilloBar/RenderRequest.h"
#include "QuilloBar/StandardInput.h"
#include "kit/DisplayRenderer.h"
#include "store/InstallTree.h"

#include <cstdio>
#include <exception>
#include <string>

namespace quillo {
namespace {

int fail(const std::string& description) {
    std::fprintf(stderr, "Could not render display frame: %s\n", description.c_str());
    return 1;
}

} // namespace

int runRenderMode() {
    const std::string input = readStandardInputToEnd();
    RenderRequest request;
    {
        Module parser(InstallTree::requestModule);
        auto* parse = parser.entry<ParseRenderRequest>(parseRenderRequestEntry);
        if (parse == nullptr) {
            return fail(parser.error());
        }
        std::string failure;
        switch (parse(input.data(), input.size(), request, failure)) {
        case RenderRequestParse::notJson:
            return fail(failure);
        case RenderRequestParse::malformed:
            // A malformed request reads like an issue that fails the page check.
            return fail(DisplayError(DisplayError::invalidPDF).what());
        case RenderRequestParse::valid:
            break;
        }
    }
    try {
        DisplayRenderer::render(request.pdf, request.output, request.model);
    } catch (const std::exception& error) {
        return fail(error.what());
    }
    std::fputs("Rendered local 1-bit front-page image. No upload or print.\n", stdout);
    return 0;
}

} // namespace quillo
