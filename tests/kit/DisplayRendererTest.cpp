#include "kit/DisplayRenderer.h"

#include "bench/SampleIssue.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/PngFrame.h"
#include "tests/support/ReferenceFrame.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <climits>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

namespace quillo {
namespace {

using testing::FixturePage;
using testing::PngFrame;
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

    [[nodiscard]] PngFrame frame() const {
        return testing::readPngFrame(output).value_or(PngFrame{});
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
        {"rotated portrait page", {pageWith(usLetter, 90)}, false},
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
    EXPECT_EQ(render(QByteArray(), DisplayModel::x), DisplayError::invalidPDF);
    // A FIFO named as the issue is refused at once instead of blocking the caller.
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    EXPECT_THROW(DisplayRenderer::render(path("fifo"), path("f"), DisplayModel::x), DisplayError);
    output = directory.filePath("missing/frame.png");
    EXPECT_EQ(render(testing::grayLetterPdf(255), DisplayModel::og), DisplayError::render);
}

// A black page fills a full-height band centred in the frame, its partly
// covered edge pixels dark. The edges fall inside bytes, so a wrong bit order
// within a byte moves them. The whole media box is drawn, even with a smaller
// crop box, and nothing a page draws beyond it, short of its edges, reaches the
// margins. Gray 170 and lighter is white.
TEST_F(DisplayRendererTest, WritesOneBitGrayFramesWithTheFrontPageInACentredBand) {
    const FixturePage spilling{usLetter, testing::PdfBox{100, 100, 512, 692}, std::nullopt,
                               "0 g 0 0 612 792 re f -300 0 290 792 re f 622 0 290 792 re f"};
    const QByteArray lightGray = testing::grayLetterPdf(170);
    for (const auto& [model, left, right] :
         {std::tuple{DisplayModel::og, 214, 585}, std::tuple{DisplayModel::x, 393, 1478}}) {
        SCOPED_TRACE(std::string(rawValue(model)));
        for (const QByteArray& pdf :
             {testing::grayLetterPdf(0), testing::fixturePdf({spilling}), lightGray}) {
            ASSERT_EQ(render(pdf, model), std::nullopt);
            const PngFrame written = frame();
            EXPECT_EQ(written.image.size(), QSize(width(model), height(model)));
            EXPECT_EQ(std::pair(written.bitDepth, written.colorType), std::pair(1, 0));
            for (const int y : {0, written.image.height() / 2, written.image.height() - 1}) {
                for (int x = 0; x < written.image.width(); ++x) {
                    ASSERT_EQ(written.isWhite(x, y), pdf == lightGray || x < left || x > right)
                        << x << ", " << y;
                }
            }
        }
        ASSERT_EQ(render(testing::grayLetterPdf(169), model), std::nullopt);
        EXPECT_FALSE(frame().isWhite(width(model) / 2, height(model) / 2));
    }
}

// The frame is the whole-page draw bit for bit, on edges at every slope,
// text, curves, photographs, a page spilling past its media box and one not
// at the origin; and the PNG holds exactly the frame's pixels.
TEST_F(DisplayRendererTest, DrawsTheFrameOfTheWholePageDrawnAtOnce) {
    const FixturePage strokes{{-20, 30, 592, 822},
                              std::nullopt,
                              std::nullopt,
                              "0 g 3 w 10 10 m 600 780 l 600 10 l h S 0.6 g 50 600 m 300 100 500 "
                              "700 560 20 c f 1 g 306 396 m 320 380 l 290 380 l f"};
    const FixturePage spilling{usLetter, std::nullopt, std::nullopt,
                               "0 G 2.5 w -40 -30 m 650 820 l S 7 w 700 100 m -90 400 l S"};
    const std::vector<std::pair<const char*, QByteArray>> issues = {
        {"strokes", testing::strokesLetterPdf()},
        {"shapes off the origin", testing::fixturePdf({strokes})},
        {"spilling strokes", testing::fixturePdf({spilling})},
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
            EXPECT_EQ(testing::differingPixels(frame.packed, *reference), 0);
            QImage packed(frame.packed.data(), frame.width, frame.height, frame.width / 8,
                          QImage::Format_Mono);
            packed.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
            EXPECT_TRUE(packed.convertToFormat(QImage::Format_Grayscale8) == this->frame().image);
        }
    }
}

} // namespace
} // namespace quillo
