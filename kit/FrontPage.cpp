#include "kit/FrontPage.h"

#include "kit/IssueFile.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quillo::kit {
namespace {

// The fit in the page's y-up space: translate(tx, ty) · scale(s) ·
// translate(−minX, −minY), then flipped into MuPDF's y-down device space.
struct Fit {
    fz_matrix frame;
    fz_irect area;
};

Fit fit(const MediaBox& box, int width, int height) {
    const double scale = std::min(width / box.width, height / box.height);
    const double tx = (width - box.width * scale) * 0.5;
    const double ty = (height - box.height * scale) * 0.5;
    const fz_matrix frame = {static_cast<float>(scale),
                             0,
                             0,
                             static_cast<float>(-scale),
                             static_cast<float>(tx - scale * box.minX),
                             static_cast<float>(height - ty + scale * box.minY)};
    const auto clamped = [](double value, int limit) {
        return static_cast<int>(std::clamp(value, 0.0, static_cast<double>(limit)));
    };
    const fz_irect area = {clamped(std::floor(tx), width),
                           clamped(std::floor(height - ty - box.height * scale), height),
                           clamped(std::ceil(tx + box.width * scale), width),
                           clamped(std::ceil(height - ty), height)};
    return {frame, area};
}

} // namespace

FrontPage loadFrontPage(fz_context* context, pdf_document* document, int width, int height) {
    pdf_obj* pageObject = guarded(context, DisplayError::invalidPDF,
                                  [&] { return pdf_lookup_page_obj(context, document, 0); });
    const auto box =
        guarded(context, DisplayError::invalidPDF, [&] { return mediaBoxOf(context, pageObject); });
    if (!box) {
        fail(DisplayError::invalidPDF);
    }
    // MuPDF places a page by its crop box; the frame shows the media box, so
    // the in-memory page takes its media box as crop box (nothing is saved).
    guarded(context, DisplayError::invalidPDF, [&] {
        pdf_dict_put(context, pageObject, PDF_NAME(CropBox),
                     pdf_dict_get_inheritable(context, pageObject, PDF_NAME(MediaBox)));
    });
    Page page(guarded(context, DisplayError::invalidPDF,
                      [&] { return pdf_load_page(context, document, 0); }),
              {context});
    const Fit placed = fit(*box, width, height);
    // pdf_run_page applies MuPDF's own page matrix first; undo it.
    fz_matrix pageMatrix;
    guarded(context, DisplayError::render,
            [&] { pdf_page_transform(context, page.get(), nullptr, &pageMatrix); });
    const fz_matrix transform = fz_concat(fz_invert_matrix(pageMatrix), placed.frame);
    return {std::move(page), transform, fz_concat(pageMatrix, transform), placed.area};
}

} // namespace quillo::kit
