// Writes a dense, newspaper-like sample issue: a masthead, five columns of
// small serif text, rules and three JPEG photographs on the front page, and
// lighter pages behind it. Used by the benchmarks and by the demo run.
#include "bench/SampleIssue.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <memory>
#include <random>
#include <string>
#include <vector>
#include <zlib.h>

namespace quillo::sample {
namespace {

struct JpegCompressor {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    JpegCompressor() {
        info.err = jpeg_std_error(&errors);
        jpeg_create_compress(&info);
    }
    JpegCompressor(const JpegCompressor&) = delete;
    JpegCompressor& operator=(const JpegCompressor&) = delete;
    ~JpegCompressor() { jpeg_destroy_compress(&info); }
};

// A photograph-like RGB image: smooth light, a few soft shapes and grain.
std::string photograph(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> grain(0.0, 9.0);
    std::uniform_real_distribution<double> place(0.0, 1.0);
    struct Blob {
        double x, y, radius, tone;
    };
    std::vector<Blob> blobs;
    for (int index = 0; index < 7; ++index) {
        blobs.push_back({place(random) * width, place(random) * height,
                         (0.08 + 0.25 * place(random)) * width, place(random) * 160 - 80});
    }
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double value = 90 + 100.0 * y / height + 30 * std::sin(x * 0.013 + seed);
            for (const Blob& blob : blobs) {
                const double distance = std::hypot(x - blob.x, y - blob.y) / blob.radius;
                value += blob.tone * std::exp(-distance * distance);
            }
            value += grain(random);
            for (int channel = 0; channel < 3; ++channel) {
                const double tinted = value + (channel - 1) * 12.0;
                pixels[(static_cast<std::size_t>(y) * width + x) * 3 + channel] =
                    static_cast<unsigned char>(std::clamp(tinted, 0.0, 255.0));
            }
        }
    }

    JpegCompressor compressor;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&compressor.info, &buffer, &size);
    compressor.info.image_width = static_cast<JDIMENSION>(width);
    compressor.info.image_height = static_cast<JDIMENSION>(height);
    compressor.info.input_components = 3;
    compressor.info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&compressor.info);
    jpeg_set_quality(&compressor.info, 85, TRUE);
    jpeg_start_compress(&compressor.info, TRUE);
    while (compressor.info.next_scanline < compressor.info.image_height) {
        JSAMPROW row =
            pixels.data() + static_cast<std::size_t>(compressor.info.next_scanline) * width * 3;
        jpeg_write_scanlines(&compressor.info, &row, 1);
    }
    jpeg_finish_compress(&compressor.info);
    std::string jpeg(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return jpeg;
}

std::string deflate(const std::string& text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size,
              reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()), 9);
    out.resize(size);
    return out;
}

const std::vector<std::string> words = {
    "council",    "harbour",   "morning",   "weather", "reader",    "market",     "garden",
    "school",     "the",       "of",        "and",     "a",         "in",         "to",
    "was",        "for",       "on",        "with",    "as",        "by",         "library",
    "river",      "season",    "election",  "bakery",  "festival",  "bridge",     "railway",
    "neighbours", "announced", "yesterday", "evening", "committee", "volunteers", "budget",
    "mayor",      "storm",     "repairs",   "plans",   "local",     "families",   "history",
    "museum",     "winter"};

std::string sentenceLine(std::mt19937& random, std::size_t characters) {
    std::uniform_int_distribution<std::size_t> pick(0, words.size() - 1);
    std::string line;
    while (line.size() < characters) {
        if (!line.empty()) {
            line += ' ';
        }
        line += words[pick(random)];
    }
    line.resize(characters);
    return line;
}

struct Photo {
    double x, y, width, height;
};

std::string frontPageContent(const std::vector<Photo>& photos) {
    std::mt19937 random(12);
    std::string content;
    content += "BT /F2 44 Tf 40 726 Td (The Quillo Daily Chronicle) Tj ET\n";
    content += "0.6 w 36 716 m 576 716 l S 36 712 m 576 712 l S\n";
    content += "BT /F3 8 Tf 40 702 Td (Sunday edition  -  Your personal newspaper) Tj ET\n";
    content +=
        "BT /F2 20 Tf 40 676 Td (Harbour festival returns after three quiet winters) Tj ET\n";
    const double columnWidth = 100.8;
    for (int column = 0; column < 5; ++column) {
        const double left = 36 + column * (columnWidth + 9);
        double top = 660;
        for (const Photo& photo : photos) {
            if (photo.x < left + columnWidth && photo.x + photo.width > left) {
                top = std::min(top, photo.y - 8);
            }
        }
        content +=
            "BT /F1 6.8 Tf 7.6 TL " + std::to_string(left) + " " + std::to_string(top) + " Td\n";
        for (double y = top; y > 44; y -= 7.6) {
            content += "(" + sentenceLine(random, 31) + ") '\n";
        }
        content += "ET\n";
        if (column > 0) {
            content += "0.3 w " + std::to_string(left - 4.5) + " 44 m " +
                       std::to_string(left - 4.5) + " 664 l S\n";
        }
    }
    for (std::size_t index = 0; index < photos.size(); ++index) {
        const Photo& photo = photos[index];
        content += "q " + std::to_string(photo.width) + " 0 0 " + std::to_string(photo.height) +
                   " " + std::to_string(photo.x) + " " + std::to_string(photo.y) + " cm /Im" +
                   std::to_string(index) + " Do Q\n";
    }
    return content;
}

std::string innerPageContent(int number) {
    std::mt19937 random(static_cast<unsigned>(100 + number));
    std::string content = "BT /F2 18 Tf 40 740 Td (Page " + std::to_string(number) + ") Tj ET\n";
    content += "BT /F1 9 Tf 11 TL 40 716 Td\n";
    for (int line = 0; line < 60; ++line) {
        content += "(" + sentenceLine(random, 95) + ") '\n";
    }
    return content + "ET\n";
}

} // namespace

std::string denseIssuePdf(int pageCount) {
    const std::vector<Photo> photos = {
        {36, 470, 210, 180}, {255, 520, 320, 130}, {364, 250, 212, 150}};
    std::vector<std::string> objects;
    objects.emplace_back("<< /Type /Catalog /Pages 2 0 R >>");
    const int firstPageObject = 7 + static_cast<int>(photos.size());
    std::string kids;
    for (int page = 0; page < pageCount; ++page) {
        kids += std::to_string(firstPageObject + 2 * page) + " 0 R ";
    }
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pageCount) +
                      " >>");
    objects.emplace_back("<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>");
    objects.emplace_back("<< /Type /Font /Subtype /Type1 /BaseFont /Times-Bold >>");
    objects.emplace_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    std::string images;
    for (std::size_t index = 0; index < photos.size(); ++index) {
        const int pixelWidth = static_cast<int>(photos[index].width * 300 / 72);
        const int pixelHeight = static_cast<int>(photos[index].height * 300 / 72);
        const std::string jpeg =
            photograph(pixelWidth, pixelHeight, static_cast<unsigned>(index) + 3);
        objects.push_back(
            "<< /Type /XObject /Subtype /Image /Width " + std::to_string(pixelWidth) + " /Height " +
            std::to_string(pixelHeight) +
            " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode /Length " +
            std::to_string(jpeg.size()) + " >>\nstream\n" + jpeg + "\nendstream");
        images += "/Im" + std::to_string(index) + " " + std::to_string(6 + index) + " 0 R ";
    }
    objects.push_back("<< /Font << /F1 3 0 R /F2 4 0 R /F3 5 0 R >> /XObject << " + images +
                      ">> >>");
    const int resources = static_cast<int>(objects.size());
    for (int page = 0; page < pageCount; ++page) {
        const std::string content =
            deflate(page == 0 ? frontPageContent(photos) : innerPageContent(page + 1));
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources " +
                          std::to_string(resources) + " 0 R /Contents " +
                          std::to_string(firstPageObject + 2 * page + 1) + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(content.size()) +
                          " /Filter /FlateDecode >>\nstream\n" + content + "\nendstream");
    }

    std::string file = "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> offsets;
    for (std::size_t index = 0; index < objects.size(); ++index) {
        offsets.push_back(file.size());
        file += std::to_string(index + 1) + " 0 obj\n" + objects[index] + "\nendobj\n";
    }
    const std::size_t xref = file.size();
    file += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const std::size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        file += line;
    }
    file += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
            " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return file;
}

} // namespace quillo::sample
