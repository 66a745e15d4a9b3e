#include "tests/support/FixturePdf.h"

#include <QFile>
#include <charconv>
#include <gtest/gtest.h>

namespace quillo::testing {
namespace {

std::string number(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return {buffer, result.ptr};
}

std::string box(const PdfBox& values) {
    return "[" + number(values[0]) + " " + number(values[1]) + " " + number(values[2]) + " " +
           number(values[3]) + "]";
}

} // namespace

QByteArray fixturePdf(const std::vector<FixturePage>& pages) {
    // Objects: 1 catalog, 2 page tree, 3 font, then a page and its content per page.
    std::vector<std::string> objects;
    objects.emplace_back("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (std::size_t index = 0; index < pages.size(); ++index) {
        kids += std::to_string(4 + 2 * index) + " 0 R ";
    }
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " +
                      std::to_string(pages.size()) + " >>");
    objects.emplace_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (std::size_t index = 0; index < pages.size(); ++index) {
        const FixturePage& page = pages[index];
        std::string dictionary = "<< /Type /Page /Parent 2 0 R /MediaBox " + box(page.mediaBox);
        if (page.cropBox) {
            dictionary += " /CropBox " + box(*page.cropBox);
        }
        if (page.rotate) {
            dictionary += " /Rotate " + std::to_string(*page.rotate);
        }
        dictionary += " /Resources << /Font << /F1 3 0 R >> >> /Contents " +
                      std::to_string(5 + 2 * index) + " 0 R >>";
        objects.push_back(dictionary);
        objects.push_back("<< /Length " + std::to_string(page.content.size()) + " >>\nstream\n" +
                          page.content + "\nendstream");
    }

    std::string file = "%PDF-1.4\n";
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
    return QByteArray::fromStdString(file);
}

QByteArray grayLetterPdf(int gray) {
    FixturePage page;
    page.content = number(gray / 255.0) + " g 0 0 612 792 re f";
    return fixturePdf({page});
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

} // namespace quillo::testing
