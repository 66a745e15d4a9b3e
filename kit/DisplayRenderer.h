#pragma once

#include "kit/DeliveryKit.h"

#include <filesystem>
#include <string>
#include <vector>

namespace quillo::DisplayRenderer {

// Renders the front page of an issue PDF into a 1-bit grayscale PNG of the
// model's exact size, mode 0600, replacing `to` atomically. Every page must be
// an unrotated 612 × 792 pt media box and the issue must have 1 to 4 pages.
// Throws DisplayError, or std::system_error when the file's mode cannot be set.
// Thread-safe: every call owns its own MuPDF context.
void render(const std::filesystem::path& pdf, const std::filesystem::path& to, DisplayModel model);

// A display frame before encoding: rows of width ÷ 8 bytes, top to bottom, the
// leftmost pixel in each byte's top bit, a set bit white.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> packed;
};

// The checks and the drawing of render(), without the PNG.
Frame rasterize(const std::filesystem::path& pdf, DisplayModel model);

// What a program that opens the kit at run time, rather than linking it, finds
// with dlsym: renders like render() and returns true, or false with the
// failure's description.
using RenderEntry = bool(const std::string& pdf, const std::string& to, DisplayModel model,
                         std::string& failure);
inline constexpr const char* renderEntryName = "quilloRenderDisplayFrame";

} // namespace quillo::DisplayRenderer

extern "C" bool quilloRenderDisplayFrame(const std::string& pdf, const std::string& to,
                                         quillo::DisplayModel model, std::string& failure);
