// Reads a PNG exactly as stored (no transforms), to check frames bit by bit.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace quillo::testing {

struct PngFrame {
    int width = 0;
    int height = 0;
    int bitDepth = 0;
    int colorType = -1;
    std::size_t rowBytes = 0;
    std::vector<std::uint8_t> samples; // rows top to bottom, rowBytes each

    [[nodiscard]] const std::uint8_t* row(int y) const { return samples.data() + y * rowBytes; }
    [[nodiscard]] bool isWhite(int x, int y) const {
        return (row(y)[x / 8] & (0x80U >> (x % 8))) != 0;
    }
};

std::optional<PngFrame> readPngFrame(const QString& path);

} // namespace quillo::testing
