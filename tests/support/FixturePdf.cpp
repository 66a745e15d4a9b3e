#include "tests/support/FixturePdf.h"

#include "tests/support/PdfAssembly.h"

#include <QCryptographicHash>
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
    // Objects: 1 catalog, 2 page tree, then a page and its content per page.
    std::vector<std::string> objects{"<< /Type /Catalog /Pages 2 0 R >>", {}};
    std::string kids;
    for (std::size_t index = 0; index < pages.size(); ++index) {
        kids += std::to_string(3 + 2 * index) + " 0 R ";
        const FixturePage& page = pages[index];
        std::string dictionary = "<< /Type /Page /Parent 2 0 R /MediaBox " + box(page.mediaBox);
        if (page.cropBox) {
            dictionary += " /CropBox " + box(*page.cropBox);
        }
        if (page.rotate) {
            dictionary += " /Rotate " + std::to_string(*page.rotate);
        }
        dictionary += " /Contents " + std::to_string(4 + 2 * index) + " 0 R >>";
        objects.push_back(dictionary);
        objects.push_back("<< /Length " + std::to_string(page.content.size()) + " >>\nstream\n" +
                          page.content + "\nendstream");
    }
    objects[1] =
        "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";
    return QByteArray::fromStdString(assemblePdf(objects));
}

QByteArray grayLetterPdf(int gray) {
    return fixturePdf({{.content = number(gray / 255.0) + " g 0 0 612 792 re f"}});
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

void writeProgram(const QString& path, const QByteArray& script) {
    writeFile(path, script);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString sha256(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

} // namespace quillo::testing
