#include "kit/DisplayRenderer.h"

#include "bench/SampleIssue.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/ReferenceFrame.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <climits>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

namespace quillo {
namespace {

using testing::FixturePage;
using testing::usLetter;

class DisplayRendererTest : public ::testing::Test {
protected:
    QTemporaryDir directory;
    // The longest name a frame can have: the temporary file beside it must fit too.
    QString output = directory.filePath(QString(NAME_MAX - 4, u'f') + ".png");

    [[nodiscard]] std::string path(const std::string& name) const {
        return directory.filePath(QString::fromStdString(name)).toStdString();
    }

    // Renders the PDF bytes; the failure's case, or nothing on success.
    std::optional<DisplayError::Case> render(const QByteArray& pdf, DisplayModel model) {
        testing::writeFile(QString::fromStdString(path("issue.pdf")), pdf);
        try {
            DisplayRenderer::render(path("issue.pdf"), output.toStdString(), model);
        } catch (const DisplayError& error) {
            return error.errorCase();
        }
        return std::nullopt;
    }
};

FixturePage pageWith(testing::PdfBox mediaBox, std::optional<int> rotate = std::nullopt) {
    return {mediaBox, std::nullopt, rotate, "0 g 0 0 612 792 re f"};
}

// An earlier frame, readable by everyone, is replaced by one others cannot read or
// survives a rejection as it was; no temporary file is ever left behind.
TEST_F(DisplayRendererTest, AcceptsOnlyIssuesOfOneToFourUnrotatedLetterPages) {
    const FixturePage letter = pageWith(usLetter);
    const std::vector<std::tuple<const char*, std::vector<FixturePage>, bool>> checks = {
        {"four letter pages", {letter, letter, letter, letter}, true},
        {"width off by 0.09", {pageWith({0, 0, 612.09, 792})}, true},
        {"media box not at the origin", {pageWith({-20, 30, 592, 822})}, true},
        {"five pages", {letter, letter, letter, letter, letter}, false},
        {"no pages", {}, false},
        {"width off by 0.1", {pageWith({0, 0, 612.1, 792})}, false},
        {"height off by 0.1", {pageWith({0, 0, 612, 791.9})}, false},
        {"rotated by a full turn", {pageWith(usLetter, 360)}, false},
        {"landscape second page", {letter, pageWith({0, 0, 792, 612})}, false},
    };
    for (const auto& [name, pages, accepted] : checks) {
        SCOPED_TRACE(name);
        testing::writeFile(output, "earlier frame");
        ASSERT_EQ(::chmod(output.toLocal8Bit().constData(), 0644), 0);
        EXPECT_EQ(render(testing::fixturePdf(pages), DisplayModel::og),
                  accepted ? std::nullopt : std::optional(DisplayError::invalidPDF));
        EXPECT_EQ(testing::readFile(output) == "earlier frame", !accepted);
        EXPECT_EQ(QFileInfo(output).permission(QFile::ReadOther), !accepted);
        EXPECT_EQ(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }
    output = directory.filePath("missing/frame.png");
    EXPECT_EQ(render(testing::grayLetterPdf(255), DisplayModel::og), DisplayError::render);
}

// The frame is the whole-page draw bit for bit, on strokes, text, curves,
// photographs, a page spilling past its media box (drawn whole even with a
// smaller crop box) and one not at the origin, and grays either side of the
// threshold; and the PNG holds exactly the frame's pixels, 1-bit gray.
TEST_F(DisplayRendererTest, DrawsTheFrameOfTheWholePageDrawnAtOnce) {
    const FixturePage strokes{{-20, 30, 592, 822},
                              std::nullopt,
                              std::nullopt,
                              "0 g 3 w 10 10 m 600 780 l 600 10 l h S 0.6 g 50 600 m 300 100 500 "
                              "700 560 20 c f 1 g 306 396 m 320 380 l 290 380 l f"};
    const FixturePage cropped{usLetter, testing::PdfBox{100, 100, 512, 692}, std::nullopt,
                              "0 g 0 0 612 792 re f -300 0 290 792 re f 622 0 290 792 re f"};
    const std::vector<std::pair<const char*, QByteArray>> issues = {
        {"shapes off the origin", testing::fixturePdf({strokes})},
        {"cropped and spilling", testing::fixturePdf({cropped})},
        {"gray 169", testing::grayLetterPdf(169)},
        {"gray 170", testing::grayLetterPdf(170)},
        {"dense issue", QByteArray::fromStdString(sample::denseIssuePdf(2))},
    };
    for (const auto& [name, pdf] : issues) {
        for (const auto model : allDisplayModels) {
            SCOPED_TRACE(std::string(name) + " on " + std::string(rawValue(model)));
            ASSERT_EQ(render(pdf, model), std::nullopt);
            const auto frame = DisplayRenderer::rasterize(path("issue.pdf"), model);
            const auto reference =
                testing::referenceFrame(path("issue.pdf"), width(model), height(model));
            ASSERT_TRUE(reference);
            EXPECT_TRUE(frame.packed == *reference);
            QImage packed(frame.packed.data(), frame.width, frame.height, frame.width / 8,
                          QImage::Format_Mono);
            packed.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
            // IHDR's bit depth and colour type: 1-bit gray.
            const QByteArray png = testing::readFile(output);
            EXPECT_EQ(png.mid(24, 2), QByteArray("\x01\x00", 2));
            EXPECT_TRUE(packed.convertToFormat(QImage::Format_Grayscale8) ==
                        QImage::fromData(png, "PNG").convertToFormat(QImage::Format_Grayscale8));
        }
    }
}

} // namespace
} // namespace quillo
