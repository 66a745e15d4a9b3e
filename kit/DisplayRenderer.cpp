// The display frame renderer: the issue opened and checked, its front page
// drawn whole onto one white gray pixmap of the frame's size (its photographs
// decoded meanwhile on a thread of their own), thresholded into one bit a
// pixel, compressed, and written in place of an earlier frame.
#include "kit/DisplayRenderer.h"

#include "kit/FrameWriter.h"
#include "kit/FrontPage.h"
#include "kit/ImagePredecode.h"
#include "kit/IssueFile.h"
#include "kit/OneBitPng.h"
#include "kit/RenderContext.h"
#include "kit/Threshold.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <sys/mman.h>

namespace quillo::DisplayRenderer {
namespace {

using kit::guarded;

// The gray surface's memory, its pages made present at once and huge where
// the kernel allows: touched one by one, the frame's 640 pages of x took a
// fault each, several microseconds apiece on the virtual machines measured.
// Both requests are advice; without them the pages fault as before.
class GrayMemory {
public:
    explicit GrayMemory(std::size_t size)
        : length_(size + hugePage), mapping_(::mmap(nullptr, length_, PROT_READ | PROT_WRITE,
                                                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)) {
        if (mapping_ == MAP_FAILED) {
            kit::fail(DisplayError::render);
        }
        const auto start = reinterpret_cast<std::uintptr_t>(mapping_);
        bytes_ = static_cast<unsigned char*>(mapping_) + ((hugePage - start % hugePage) % hugePage);
        ::madvise(bytes_, size, MADV_HUGEPAGE);
        ::madvise(bytes_, size, populateWrite);
    }
    GrayMemory(const GrayMemory&) = delete;
    GrayMemory& operator=(const GrayMemory&) = delete;
    ~GrayMemory() { ::munmap(mapping_, length_); }

    [[nodiscard]] unsigned char* bytes() const { return bytes_; }

private:
    static constexpr std::size_t hugePage = std::size_t{2} << 20;
    // MADV_POPULATE_WRITE, Linux 5.14, which older headers lack.
    static constexpr int populateWrite = 23;

    std::size_t length_;
    void* mapping_;
    unsigned char* bytes_ = nullptr;
};

// What the page draws beside its media box is not the frame's: white.
void whitenBeside(fz_pixmap& gray, const fz_irect& area) {
    for (int y = 0; y < gray.h; ++y) {
        unsigned char* row = gray.samples + static_cast<std::ptrdiff_t>(y) * gray.stride;
        if (y < area.y0 || y >= area.y1) {
            std::memset(row, 255, static_cast<std::size_t>(gray.w));
            continue;
        }
        std::memset(row, 255, static_cast<std::size_t>(area.x0));
        std::memset(row + area.x1, 255, static_cast<std::size_t>(gray.w - area.x1));
    }
}

// One draw of the whole page: drawn in parts, MuPDF would clip each path's
// edges to its part, which moves anti-aliased edge pixels across the threshold.
kit::Pixmap drawFrontPage(fz_context* context, const kit::FrontPage& front, int width, int height,
                          const GrayMemory& memory) {
    kit::Pixmap gray(guarded(context, DisplayError::render,
                             [&] {
                                 return fz_new_pixmap_with_data(context, fz_device_gray(context),
                                                                width, height, nullptr, 0, width,
                                                                memory.bytes());
                             }),
                     {context});
    fz_clear_pixmap_with_value(context, gray.get(), 255);
    const kit::Device device(
        guarded(context, DisplayError::render,
                [&] { return fz_new_draw_device(context, fz_identity, gray.get()); }),
        {context});
    guarded(context, DisplayError::render, [&] {
        pdf_run_page(context, front.page.get(), device.get(), front.transform, nullptr);
        fz_close_device(context, device.get());
    });
    whitenBeside(*gray, front.area);
    return gray;
}

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
    const GrayMemory memory(static_cast<std::size_t>(width(model)) * height(model));
    kit::Pixmap gray(nullptr, {context.get()});
    {
        const kit::ImagePredecode photographs(context.get(), document.get(), front);
        gray = drawFrontPage(context.get(), front, width(model), height(model), memory);
    }
    use(*gray);
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
