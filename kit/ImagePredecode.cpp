#include "kit/ImagePredecode.h"

#include "kit/RenderContext.h"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <utility>

namespace quillo::kit {
namespace {

// Follows a page's content for the images it draws and where, and notes them:
// only the transform of the graphics state is tracked, and neither text nor
// paths are read beyond the lexer, so it takes a fraction of the time that
// reading the page does, and the decodes can start at once. It
// sees only the page's own content; an image it misses is MuPDF's to decode.
struct ImageFinder {
    pdf_processor super;
    ImagePredecode* images;
    pdf_document* document;
    fz_matrix transform;
    std::array<fz_matrix, 32> saved;
    int depth;   // transforms saved
    int floor;   // the depth a form started at, below which it cannot restore
    int unsaved; // saves beyond the array's, restored first
    int forms;   // forms entered

    static constexpr int maximumFormDepth = 8;

    static ImageFinder& of(pdf_processor* processor) {
        return *reinterpret_cast<ImageFinder*>(processor);
    }
    static void save(fz_context* /*context*/, pdf_processor* processor) {
        ImageFinder& finder = of(processor);
        if (finder.depth < static_cast<int>(finder.saved.size())) {
            finder.saved.at(static_cast<std::size_t>(finder.depth++)) = finder.transform;
        } else {
            ++finder.unsaved;
        }
    }
    static void restore(fz_context* /*context*/, pdf_processor* processor) {
        ImageFinder& finder = of(processor);
        if (finder.unsaved > 0) {
            --finder.unsaved;
        } else if (finder.depth > finder.floor) {
            finder.transform = finder.saved.at(static_cast<std::size_t>(--finder.depth));
        }
    }
    static void concat(fz_context* /*context*/, pdf_processor* processor, float a, float b, float c,
                       float d, float e, float f) {
        ImageFinder& finder = of(processor);
        finder.transform = fz_concat(fz_make_matrix(a, b, c, d, e, f), finder.transform);
    }
    static void drawImage(fz_context* context, pdf_processor* processor, const char* /*name*/,
                          fz_image* image) {
        const ImageFinder& finder = of(processor);
        // Images with a colour space are what MuPDF fills, turned upright.
        if (image->colorspace != nullptr) {
            finder.images->note(context, image,
                                fz_pre_scale(fz_pre_translate(finder.transform, 0, 1), 1, -1));
        }
    }
    static void drawForm(fz_context* context, pdf_processor* processor, const char* /*name*/,
                         pdf_obj* form, pdf_obj* pageResources) {
        ImageFinder& finder = of(processor);
        if (finder.forms >= maximumFormDepth) {
            return;
        }
        const fz_matrix outer = finder.transform;
        const int depth = finder.depth;
        const int floor = finder.floor;
        const int unsaved = finder.unsaved;
        finder.transform = fz_concat(pdf_xobject_matrix(context, form), finder.transform);
        pdf_obj* resources = pdf_xobject_resources(context, form);
        finder.floor = depth;
        finder.unsaved = 0;
        ++finder.forms;
        fz_try(context) {
            pdf_process_contents(context, processor, finder.document,
                                 resources != nullptr ? resources : pageResources, form, nullptr);
        }
        fz_always(context) {
            --finder.forms;
            finder.transform = outer;
            finder.depth = depth;
            finder.floor = floor;
            finder.unsaved = unsaved;
        }
        fz_catch(context) {
            fz_rethrow(context);
        }
    }

    // Notes what the page's own content draws. A failure is not the finder's
    // to report: reading the page meets it again.
    static void find(fz_context* context, pdf_document* document, const FrontPage& front,
                     ImagePredecode& images) noexcept {
        pdf_processor* processor = nullptr;
        fz_var(processor);
        fz_try(context) {
            processor =
                static_cast<pdf_processor*>(pdf_new_processor(context, sizeof(ImageFinder)));
            ImageFinder& finder = of(processor);
            finder.images = &images;
            finder.document = document;
            finder.transform = front.contentTransform;
            processor->op_q = save;
            processor->op_Q = restore;
            processor->op_cm = concat;
            processor->op_Do_image = drawImage;
            processor->op_Do_form = drawForm;
            pdf_process_contents(context, processor, document,
                                 pdf_page_resources(context, front.page.get()),
                                 pdf_page_contents(context, front.page.get()), nullptr);
        }
        fz_always(context) {
            pdf_drop_processor(context, processor);
        }
        fz_catch(context) {}
    }
};

} // namespace

ImagePredecode::ImagePredecode(fz_context* context, pdf_document* document, const FrontPage& front)
    : context_(context) {
    // Clones share the user pointer: the draw finds the entries through it.
    fz_set_user_context(context, this);
    ImageFinder::find(context, document, front, *this);
    for (const auto& entry : entries_) {
        entry->image.decode = std::exchange(entry->image.image->get_pixmap, sharedPixmap);
    }
    if (entries_.empty()) {
        return;
    }
    Context clone = cloneContext(context);
    if (!clone) {
        return;
    }
    try {
        decoder_ = std::jthread([this, clone = std::move(clone)](const std::stop_token& stop) {
            decodeAll(stop, clone.get());
        });
    } catch (const std::system_error&) {
        // No thread: the draw decodes the images as it meets them.
    }
}

ImagePredecode::~ImagePredecode() {
    if (decoder_.joinable()) {
        decoder_.request_stop();
        decoder_.join();
    }
    for (const auto& entry : entries_) {
        entry->image.image->get_pixmap = entry->image.decode;
        for (fz_pixmap* pixmap : entry->decoded) {
            fz_drop_pixmap(context_, pixmap);
        }
        fz_drop_image(context_, entry->image.image);
    }
    fz_set_user_context(context_, nullptr);
}

void ImagePredecode::note(fz_context* context, fz_image* image, fz_matrix transform) noexcept {
    fz_compressed_buffer* compressed = fz_compressed_image_buffer(context, image);
    if (image->scalable || image->decoded || compressed == nullptr || find(image) != nullptr) {
        return;
    }
    try {
        auto entry = std::make_unique<Entry>();
        entry->image = {image, compressed, nullptr};
        entry->transform = transform;
        entries_.push_back(std::move(entry));
        fz_keep_image(context, image);
    } catch (const std::bad_alloc&) {
    }
}

void ImagePredecode::decodeAll(const std::stop_token& stop, fz_context* context) noexcept {
    for (const auto& entry : entries_) {
        if (stop.stop_requested()) {
            return;
        }
        decode(context, *entry);
    }
}

ImagePredecode::Entry* ImagePredecode::find(fz_image* image) const noexcept {
    const auto found = std::find_if(entries_.begin(), entries_.end(), [image](const auto& entry) {
        return entry->image.image == image;
    });
    return found == entries_.end() ? nullptr : found->get();
}

// Decodes the image as the page draws it; a failure is left for the draw,
// where MuPDF skips what it cannot decode.
void ImagePredecode::decode(fz_context* context, Entry& entry) noexcept {
    const fz_image* image = entry.image.image;
    // What fz_get_pixmap_from_image will ask for when the page draws it.
    const fz_matrix drawn = fz_gridfit_matrix(0, entry.transform);
    const int w =
        std::min(image->w, static_cast<int>(std::sqrt(drawn.a * drawn.a + drawn.b * drawn.b)));
    const int h =
        std::min(image->h, static_cast<int>(std::sqrt(drawn.c * drawn.c + drawn.d * drawn.d)));
    int factor = 0;
    while (w > 0 && h > 0 && factor < 6 && (image->w >> (factor + 1)) >= w + 2 &&
           (image->h >> (factor + 1)) >= h + 2) {
        ++factor;
    }
    fz_try(context) {
        decodedAt(context, entry, factor, w, h);
    }
    fz_catch(context) {}
}

// The entry's decode at `factor`, made on first use, and kept by the
// entry. Throws as MuPDF does: no C++ object with a destructor may live
// across the calls that can throw, so the mutex is released in fz_always.
fz_pixmap* ImagePredecode::decodedAt(fz_context* context, Entry& entry, int factor, int w, int h) {
    bool locked = true;
    try {
        entry.mutex.lock();
    } catch (const std::system_error&) {
        locked = false;
    }
    if (!locked) {
        fz_throw(context, FZ_ERROR_GENERIC, "image not shared");
    }
    const auto index = static_cast<std::size_t>(factor);
    fz_try(context) {
        if (entry.decoded[index] == nullptr) {
            entry.decoded[index] =
                decodeToGray(context, entry.image, factor, w, h, &entry.remaining[index]);
        }
    }
    fz_always(context) {
        entry.mutex.unlock();
    }
    fz_catch(context) {
        fz_rethrow(context);
    }
    return entry.decoded[index];
}

// Called by MuPDF from either thread, inside its own error handling.
fz_pixmap* ImagePredecode::sharedPixmap(fz_context* context, fz_image* image, fz_irect* subarea,
                                        int w, int h, int* l2factor) {
    const auto* shared = static_cast<const ImagePredecode*>(fz_user_context(context));
    Entry* entry = shared->find(image);
    if (entry == nullptr) {
        fz_throw(context, FZ_ERROR_GENERIC, "image not shared");
    }
    const int factor = std::clamp(*l2factor, 0, factors - 1);
    fz_pixmap* decoded = decodedAt(context, *entry, factor, w, h);
    // What is left to subsample, the caller does in place: on a copy.
    *l2factor = entry->remaining[static_cast<std::size_t>(factor)];
    if (subarea != nullptr) {
        *subarea = fz_make_irect(0, 0, image->w, image->h);
    }
    return *l2factor == 0 ? fz_keep_pixmap(context, decoded) : fz_clone_pixmap(context, decoded);
}

} // namespace quillo::kit
