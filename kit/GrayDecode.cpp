#include "kit/GrayDecode.h"

#include <algorithm>
#include <cstring>

namespace quillo::kit {
namespace {

// The frame is gray: converted once here, before MuPDF scales it, as it would
// convert it itself.
fz_pixmap* toGray(fz_context* context, fz_pixmap* decoded) {
    fz_colorspace* colorspace = fz_pixmap_colorspace(context, decoded);
    if (colorspace == nullptr || colorspace == fz_device_gray(context)) {
        return decoded;
    }
    fz_pixmap* gray = nullptr;
    fz_try(context) {
        gray = fz_convert_pixmap(context, decoded, fz_device_gray(context), nullptr, nullptr,
                                 fz_default_color_params, 1);
    }
    fz_always(context) {
        fz_drop_pixmap(context, decoded);
    }
    fz_catch(context) {
        fz_rethrow(context);
    }
    return gray;
}

// Whether MuPDF would patch the frame height in the JPEG's header before
// decoding it (missing, or taller than the image); such an image keeps
// MuPDF's own decode, which does.
bool needsHeightPatch(const fz_buffer* jpeg, int height) {
    const unsigned char* data = jpeg->data;
    const std::size_t length = jpeg->len;
    for (std::size_t at = 2; at + 9 < length && data[at] == 0xFF;
         at += ((data[at + 2] << 8U) | data[at + 3]) + 2U) {
        const unsigned char marker = data[at + 1];
        if (marker < 0xC0 || (marker > 0xC3 && marker < 0xC9) || marker > 0xCB) {
            continue;
        }
        const int frameHeight = (data[at + 5] << 8U) | data[at + 6];
        if (frameHeight == 0 || frameHeight > height) {
            return true;
        }
    }
    return false;
}

// Whether MuPDF's decode of the image can be taken over by decodeJpegToGray.
bool isPlainRgbJpeg(fz_context* context, fz_image* image, fz_compressed_buffer* compressed,
                    int factor) {
    return compressed->params.type == FZ_IMAGE_JPEG && factor <= 3 && image->bpc == 8 &&
           image->n == 3 && image->use_colorkey == 0 && image->use_decode == 0 &&
           image->imagemask == 0 && image->colorspace != nullptr &&
           fz_colorspace_type(context, image->colorspace) == FZ_COLORSPACE_RGB &&
           !needsHeightPatch(compressed->buffer, image->h);
}

// Converts `rows` rows of colour from `strip` into the gray rows from `top`,
// as MuPDF converts a whole image. Throws as MuPDF does.
void convertStrip(fz_context* context, fz_colorspace* colorspace, unsigned char* strip, int rows,
                  fz_pixmap* gray, int top) {
    fz_pixmap* color = nullptr;
    fz_pixmap* converted = nullptr;
    fz_var(color);
    fz_var(converted);
    fz_try(context) {
        color = fz_new_pixmap_with_data(context, colorspace, gray->w, rows, nullptr, 0, gray->w * 3,
                                        strip);
        converted = fz_convert_pixmap(context, color, fz_device_gray(context), nullptr, nullptr,
                                      fz_default_color_params, 1);
        for (int row = 0; row < rows; ++row) {
            std::memcpy(gray->samples + static_cast<std::ptrdiff_t>(top + row) * gray->stride,
                        converted->samples + static_cast<std::ptrdiff_t>(row) * converted->stride,
                        static_cast<std::size_t>(gray->w));
        }
    }
    fz_always(context) {
        fz_drop_pixmap(context, converted);
        fz_drop_pixmap(context, color);
    }
    fz_catch(context) {
        fz_rethrow(context);
    }
}

// An 8-bit RGB JPEG decoded at `factor` straight into gray, a few rows at
// a time: the whole colour decode, three times the size of the gray one,
// is never held, and each strip is converted while it is still in the
// cache. The bytes are the ones MuPDF's decode and conversion give: the
// same stream read in the same order, zeros past a truncated end, and the
// same conversion per pixel. Null for any other image.
fz_pixmap* decodeJpegToGray(fz_context* context, fz_image* image, fz_compressed_buffer* compressed,
                            int factor) {
    constexpr int stripRows = 16;
    if (!isPlainRgbJpeg(context, image, compressed, factor)) {
        return nullptr;
    }
    const int w = (image->w + (1 << factor) - 1) >> factor;
    const int h = (image->h + (1 << factor) - 1) >> factor;
    const std::size_t colorStride = static_cast<std::size_t>(w) * 3;
    int unreduced = factor;
    fz_stream* stream = fz_open_image_decomp_stream_from_buffer(context, compressed, &unreduced);
    fz_pixmap* gray = nullptr;
    unsigned char* strip = nullptr;
    fz_var(gray);
    fz_var(strip);
    fz_try(context) {
        gray = fz_new_pixmap(context, fz_device_gray(context), w, h, nullptr, 0);
        if (image->interpolate != 0) {
            gray->flags |= FZ_PIXMAP_FLAG_INTERPOLATE;
        } else {
            gray->flags &= ~FZ_PIXMAP_FLAG_INTERPOLATE;
        }
        strip = static_cast<unsigned char*>(fz_malloc(context, colorStride * stripRows));
        for (int top = 0; top < h; top += stripRows) {
            const int rows = std::min(stripRows, h - top);
            const std::size_t wanted = colorStride * rows;
            const std::size_t read = fz_read(context, stream, strip, wanted);
            std::memset(strip + read, 0, wanted - read);
            convertStrip(context, image->colorspace, strip, rows, gray, top);
        }
    }
    fz_always(context) {
        fz_free(context, strip);
        fz_drop_stream(context, stream);
    }
    fz_catch(context) {
        fz_drop_pixmap(context, gray);
        fz_rethrow(context);
    }
    return gray;
}

} // namespace

fz_pixmap* decodeToGray(fz_context* context, const Decodable& image, int factor, int w, int h,
                        int* remaining) {
    fz_pixmap* gray = decodeJpegToGray(context, image.image, image.compressed, factor);
    if (gray != nullptr) {
        *remaining = 0;
        return gray;
    }
    *remaining = factor;
    return toGray(context, image.decode(context, image.image, nullptr, w, h, remaining));
}

} // namespace quillo::kit
