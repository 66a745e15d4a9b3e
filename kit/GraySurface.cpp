#include "kit/GraySurface.h"

#include <cstdint>
#include <cstring>
#include <sys/mman.h>

namespace quillo::kit {
namespace {

constexpr std::size_t hugePage = std::size_t{2} << 20;
// MADV_POPULATE_WRITE, Linux 5.14, which older headers lack.
constexpr int populateWrite = 23;

// The surface's memory, its pages made present at once and huge where the
// kernel allows: touched one by one, the 640 pages of x took a fault each,
// several microseconds apiece on the virtual machines measured. Both requests
// are advice; without them the pages fault as before.
unsigned char* prepared(void* mapping, std::size_t size) {
    const auto start = reinterpret_cast<std::uintptr_t>(mapping);
    auto* bytes = static_cast<unsigned char*>(mapping) + ((hugePage - start % hugePage) % hugePage);
    static_cast<void>(::madvise(bytes, size, MADV_HUGEPAGE));
    static_cast<void>(::madvise(bytes, size, populateWrite));
    return bytes;
}

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

} // namespace

GraySurface::GraySurface(fz_context* context, int width, int height)
    : length_(static_cast<std::size_t>(width) * height + hugePage),
      mapping_(
          ::mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)),
      pixmap_(nullptr, {context}) {
    if (mapping_ == MAP_FAILED) {
        fail(DisplayError::render);
    }
    const std::size_t size = length_ - hugePage;
    unsigned char* bytes = prepared(mapping_, size);
    fz_pixmap* pixmap = nullptr;
    if (!completes(context, [&] {
            pixmap = fz_new_pixmap_with_data(context, fz_device_gray(context), width, height,
                                             nullptr, 0, width, bytes);
        })) {
        ::munmap(mapping_, length_);
        fail(DisplayError::render);
    }
    pixmap_.reset(pixmap);
    std::memset(bytes, 255, size);
}

GraySurface::~GraySurface() {
    pixmap_.reset();
    ::munmap(mapping_, length_);
}

void GraySurface::draw(const FrontPage& front) {
    fz_context* context = pixmap_.get_deleter().context;
    const Device device(
        guarded(context, DisplayError::render,
                [&] { return fz_new_draw_device(context, fz_identity, pixmap_.get()); }),
        {context});
    guarded(context, DisplayError::render, [&] {
        pdf_run_page(context, front.page.get(), device.get(), front.transform, nullptr);
        fz_close_device(context, device.get());
    });
    whitenBeside(*pixmap_, front.area);
}

} // namespace quillo::kit
