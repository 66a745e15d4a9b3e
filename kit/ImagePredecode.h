// The front page's photographs decoded once, whole, on a thread of their own
// while the page is drawn, so that drawing meets them ready. Each compressed
// image the page's content draws gets a get_pixmap that hands out its shared
// decode, made at the subsampling factor the draw will ask for; the draw
// decodes an image itself when it comes to one first, and the decodes stay
// out of MuPDF's store.
#pragma once

#include "kit/FrontPage.h"
#include "kit/GrayDecode.h"

#include <array>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quillo::kit {

class ImagePredecode {
public:
    // Finds the images and starts their decodes, in the order the page draws
    // them, in a clone of `context`. Without a thread the draw decodes them.
    ImagePredecode(fz_context* context, pdf_document* document, const FrontPage& front);
    ImagePredecode(const ImagePredecode&) = delete;
    ImagePredecode& operator=(const ImagePredecode&) = delete;
    // Stops the decodes after the one in progress and hands the images back.
    ~ImagePredecode();

    // Notes an image the page draws under `transform`, unless it is noted or
    // cannot be shared. For the image finder, before the decodes start.
    void note(fz_context* context, fz_image* image, fz_matrix transform) noexcept;

private:
    static constexpr int factors = 8;

    struct Entry {
        Decodable image{};
        fz_matrix transform{};
        std::mutex mutex;
        std::array<fz_pixmap*, factors> decoded{};
        std::array<int, factors> remaining{};
    };

    void decodeAll(const std::stop_token& stop, fz_context* context) noexcept;
    [[nodiscard]] Entry* find(fz_image* image) const noexcept;
    static void decode(fz_context* context, Entry& entry) noexcept;
    static fz_pixmap* decodedAt(fz_context* context, Entry& entry, int factor, int w, int h);
    static fz_pixmap* sharedPixmap(fz_context* context, fz_image* image, fz_irect* subarea, int w,
                                   int h, int* l2factor);

    fz_context* context_;
    std::vector<std::unique_ptr<Entry>> entries_;
    std::jthread decoder_; // last: it stops before the entries go
};

} // namespace quillo::kit
