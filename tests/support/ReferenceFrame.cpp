#include "tests/support/ReferenceFrame.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

namespace quillo::testing {
namespace {

void ignore(void* /*user*/, const char* /*message*/) {}

// A PDF number as the file wrote it: the float MuPDF keeps, read back through
// its shortest decimal.
double written(fz_context* context, pdf_obj* number) {
    char text[64] = {};
    std::to_chars(text, text + sizeof text - 1, pdf_to_real(context, number));
    return std::strtod(text, nullptr);
}

struct Placement {
    fz_matrix frame; // PDF user space to the frame
    fz_irect area;   // the frame's pixels the media box covers, even partly
};

// The media box fitted and centred: translate(tx, ty) · scale(s) ·
// translate(−minX, −minY) in y-up space, flipped into the frame's rows.
Placement place(fz_context* context, pdf_obj* box, int width, int height) {
    const double x0 = written(context, pdf_array_get(context, box, 0));
    const double y0 = written(context, pdf_array_get(context, box, 1));
    const double x1 = written(context, pdf_array_get(context, box, 2));
    const double y1 = written(context, pdf_array_get(context, box, 3));
    const double boxWidth = std::abs(x1 - x0);
    const double boxHeight = std::abs(y1 - y0);
    const double s = std::min(width / boxWidth, height / boxHeight);
    const double tx = (width - boxWidth * s) * 0.5;
    const double ty = (height - boxHeight * s) * 0.5;
    const fz_matrix frame = fz_make_matrix(static_cast<float>(s), 0, 0, static_cast<float>(-s),
                                           static_cast<float>(tx - s * std::min(x0, x1)),
                                           static_cast<float>(height - ty + s * std::min(y0, y1)));
    const auto clamped = [](double value, int limit) {
        return static_cast<int>(std::clamp(value, 0.0, static_cast<double>(limit)));
    };
    return {
        frame,
        {clamped(std::floor(tx), width), clamped(std::floor(height - ty - boxHeight * s), height),
         clamped(std::ceil(tx + boxWidth * s), width), clamped(std::ceil(height - ty), height)}};
}

std::vector<unsigned char> pack(const unsigned char* gray, int width, int height, fz_irect area) {
    std::vector<unsigned char> packed(static_cast<std::size_t>(width / 8) * height, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool outside = x < area.x0 || x >= area.x1 || y < area.y0 || y >= area.y1;
            if (outside || gray[static_cast<std::ptrdiff_t>(y) * width + x] >= 170) {
                packed[static_cast<std::size_t>(y) * (width / 8) + x / 8] |=
                    static_cast<unsigned char>(0x80U >> (x % 8));
            }
        }
    }
    return packed;
}

} // namespace

std::optional<std::vector<unsigned char>> referenceFrame(const std::string& pdf, int width,
                                                         int height) {
    fz_context* context = fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT);
    fz_set_warning_callback(context, ignore, nullptr);
    fz_set_error_callback(context, ignore, nullptr);
    pdf_document* document = nullptr;
    fz_page* page = nullptr;
    fz_pixmap* pixmap = nullptr;
    fz_device* device = nullptr;
    fz_irect area{};
    bool drawn = false;
    fz_var(document);
    fz_var(page);
    fz_var(pixmap);
    fz_var(device);
    fz_try(context) {
        document = pdf_open_document(context, pdf.c_str());
        pdf_obj* front = pdf_lookup_page_obj(context, document, 0);
        pdf_obj* box = pdf_dict_get_inheritable(context, front, PDF_NAME(MediaBox));
        // MuPDF places a page by its crop box; the frame shows the media box.
        pdf_dict_put(context, front, PDF_NAME(CropBox), box);
        page = fz_load_page(context, &document->super, 0);
        const Placement placement = place(context, box, width, height);
        area = placement.area;
        fz_matrix pageMatrix;
        pdf_page_transform(context, reinterpret_cast<pdf_page*>(page), nullptr, &pageMatrix);
        pixmap = fz_new_pixmap(context, fz_device_gray(context), width, height, nullptr, 0);
        fz_clear_pixmap_with_value(context, pixmap, 255);
        device = fz_new_draw_device(context, fz_identity, pixmap);
        fz_run_page(context, page, device, fz_concat(fz_invert_matrix(pageMatrix), placement.frame),
                    nullptr);
        fz_close_device(context, device);
        drawn = true;
    }
    fz_catch(context) {}
    std::optional<std::vector<unsigned char>> frame;
    if (drawn) {
        frame = pack(fz_pixmap_samples(context, pixmap), width, height, area);
    }
    fz_drop_device(context, device);
    fz_drop_pixmap(context, pixmap);
    fz_drop_page(context, page);
    pdf_drop_document(context, document);
    fz_drop_context(context);
    return frame;
}

} // namespace quillo::testing
