// Opening an issue for the renderer and checking it: a regular file, read as
// a PDF of one to four unrotated US Letter pages.
#pragma once

#include "kit/MuPdfCall.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

namespace quillo::kit {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The issue's file, opened without blocking; throws invalidPDF unless it is a
// regular file.
File openRegularFile(const std::filesystem::path& path);

// The issue as a document whose every page is an unrotated letter page, 1 to
// 4 of them; throws invalidPDF otherwise.
Document openIssue(fz_context* context, std::FILE* file);

// A media box as the file wrote it, in the page's own y-up space.
struct MediaBox {
    double minX;
    double minY;
    double width;
    double height;
};

// The page's media box, inherited or its own; nothing unless it is four numbers.
std::optional<MediaBox> mediaBoxOf(fz_context* context, pdf_obj* page);

} // namespace quillo::kit
