// The display frame renderer: the issue opened and checked, its front page
// drawn whole onto one white gray pixmap of the frame's size (its photographs
// decoded meanwhile on a thread of their own), thresholded into one bit a
// pixel, compressed, and written in place of an earlier frame.
#include "kit/DisplayRenderer.h"

#include "kit/FrameWriter.h"
#include "kit/FrontPage.h"
#include "kit/GraySurface.h"
#include "kit/ImagePredecode.h"
#include "kit/IssueFile.h"
#include "kit/OneBitPng.h"
#include "kit/RenderContext.h"
#include "kit/Threshold.h"

#include <memory>

namespace quillo::DisplayRenderer {
namespace {

// Opens and checks the issue and draws the model's gray frame of its front
// page, which `use` gets while it lives.
template <typename Use>
void drawGray(const std::filesystem::path& pdf, DisplayModel model, Use use) {
    const kit::File file = kit::openRegularFile(pdf);
    kit::Locks locks;
    const kit::Context context = kit::newContext(locks);
    const kit::Document document = kit::openIssue(context.get(), file.get());
    const kit::FrontPage front =
        kit::loadFrontPage(context.get(), document.get(), width(model), height(model));
    kit::GraySurface surface(context.get(), width(model), height(model));
    {
        const kit::ImagePredecode photographs(context.get(), document.get(), front);
        surface.draw(front);
    }
    use(surface.pixmap());
}

// The frame's rows as the PNG's scanlines, each after its filter type, None,
// compressed.
OneBitPng::Deflated compressed(const fz_pixmap& gray) {
    const std::size_t length = OneBitPng::scanlineLength(gray.w);
    const std::size_t size = length * static_cast<std::size_t>(gray.h);
    const auto scanlines = std::make_unique_for_overwrite<unsigned char[]>(size);
    for (std::size_t start = 0; start < size; start += length) {
        scanlines[start] = 0;
    }
    kit::threshold(gray.samples, gray.stride, gray.w, gray.h, {scanlines.get() + 1, length});
    OneBitPng::Deflated deflated;
    if (!OneBitPng::compress(scanlines.get(), size, length, deflated)) {
        kit::fail(DisplayError::render);
    }
    return deflated;
}

} // namespace

Frame rasterize(const std::filesystem::path& pdf, DisplayModel model) {
    Frame frame{width(model), height(model), {}};
    frame.packed.resize(static_cast<std::size_t>(frame.width / 8) * frame.height);
    drawGray(pdf, model, [&](const fz_pixmap& gray) {
        kit::threshold(gray.samples, gray.stride, gray.w, gray.h,
                       {frame.packed.data(), static_cast<std::size_t>(frame.width / 8)});
    });
    return frame;
}

void render(const std::filesystem::path& pdf, const std::filesystem::path& to, DisplayModel model) {
    OneBitPng::Deflated scanlines;
    drawGray(pdf, model, [&](const fz_pixmap& gray) { scanlines = compressed(gray); });
    kit::writeFrame(to, width(model), height(model), scanlines);
}

} // namespace quillo::DisplayRenderer

extern "C" bool quilloRenderDisplayFrame(const std::string& pdf, const std::string& to,
                                         quillo::DisplayModel model, std::string& failure) {
    try {
        quillo::DisplayRenderer::render(pdf, to, model);
        return true;
    } catch (const std::exception& error) {
        failure = error.what();
        return false;
    }
}
