// A tiny PDF writer, so the tests make every fixture they need and no binary
// fixture is committed.
#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace quillo::testing {

using PdfBox = std::array<double, 4>;

inline constexpr PdfBox usLetter{0, 0, 612, 792};

struct FixturePage {
    PdfBox mediaBox = usLetter;
    std::optional<PdfBox> cropBox;
    std::optional<int> rotate;
    // Content stream operators in the page's own space.
    std::string content;
};

QByteArray fixturePdf(const std::vector<FixturePage>& pages);

// A one-page letter issue filled with one gray value (0 black .. 255 white).
QByteArray grayLetterPdf(int gray);

// Writes the bytes to path; fails the current test when it cannot.
void writeFile(const QString& path, const QByteArray& bytes);
// An executable file (a stand-in tool) with these contents.
void writeProgram(const QString& path, const QByteArray& script);
// The file's bytes, or nothing when it cannot be read.
QByteArray readFile(const QString& path);
// Lowercase hex.
QString sha256(const QByteArray& bytes);

} // namespace quillo::testing
