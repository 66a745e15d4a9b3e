// The front page placed in the frame: its media box scaled to fit, centred.
#pragma once

#include "kit/MuPdfCall.h"

namespace quillo::kit {

struct FrontPage {
    Page page;
    // What pdf_run_page draws the media box under, fitted and centred in the
    // frame, in MuPDF's y-down device space.
    fz_matrix transform;
    // What the content starts from: MuPDF's page matrix, then `transform`.
    fz_matrix contentTransform;
    // The frame's pixels that the media box covers, even partly.
    fz_irect area;
};

// Loads page 1 of a checked issue for a frame of the given size.
FrontPage loadFrontPage(fz_context* context, pdf_document* document, int width, int height);

} // namespace quillo::kit
