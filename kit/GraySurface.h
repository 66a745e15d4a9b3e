// The gray surface a frame is drawn on: the frame's size, 8 bits a pixel, no
// alpha, white until the front page is drawn on it whole.
#pragma once

#include "kit/FrontPage.h"

#include <cstddef>

namespace quillo::kit {

class GraySurface {
public:
    // Throws `render` when there is no memory for it.
    GraySurface(fz_context* context, int width, int height);
    GraySurface(const GraySurface&) = delete;
    GraySurface& operator=(const GraySurface&) = delete;
    ~GraySurface();

    // Draws the page in one pass: drawn in parts, MuPDF would clip each path's
    // edges to its part, which moves anti-aliased edge pixels across the
    // threshold. What the page draws beside its media box is whitened.
    void draw(const FrontPage& front);

    [[nodiscard]] const fz_pixmap& pixmap() const { return *pixmap_; }

private:
    std::size_t length_;
    void* mapping_;
    Pixmap pixmap_;
};

} // namespace quillo::kit
