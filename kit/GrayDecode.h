// A photograph decoded into gray, byte for byte what MuPDF's own decode and
// conversion give the frame, but without ever holding it in colour.
#pragma once

#include <mupdf/fitz.h>

namespace quillo::kit {

struct Decodable {
    fz_image* image;
    // The image's data and MuPDF's decoder of it, which the image no longer
    // hands out once its get_pixmap is replaced.
    fz_compressed_buffer* compressed;
    fz_image_get_pixmap_fn* decode;
};

// The whole image at subsampling `factor` (what MuPDF's draw of it at w × h
// would ask for); `remaining` is set to the subsampling left to the caller.
// Throws as MuPDF does.
fz_pixmap* decodeToGray(fz_context* context, const Decodable& image, int factor, int w, int h,
                        int* remaining);

} // namespace quillo::kit
