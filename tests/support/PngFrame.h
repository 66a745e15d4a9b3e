// A display frame as stored: the PNG header's bit depth and colour type, and
// the pixels as any PNG reader sees them.
#pragma once

#include <QFile>
#include <QImage>
#include <optional>

namespace quillo::testing {

struct PngFrame {
    QImage image; // 8-bit gray
    int bitDepth = 0;
    int colorType = -1;
};

inline std::optional<PngFrame> readPngFrame(const QString& path) {
    QFile file(path);
    QImage image;
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    // IHDR's data starts at byte 16: width, height, bit depth, colour type.
    if (bytes.size() < 26 || !image.loadFromData(bytes, "PNG")) {
        return std::nullopt;
    }
    return PngFrame{image.convertToFormat(QImage::Format_Grayscale8), bytes[24], bytes[25]};
}

} // namespace quillo::testing
