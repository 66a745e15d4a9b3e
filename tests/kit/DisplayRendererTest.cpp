#include "kit/DisplayRenderer.h"

#include "bench/SampleIssue.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/PngFrame.h"

#include <QDir>
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

    [[nodiscard]] std::string path(const std::string& name) const {
        return directory.filePath(QString::fromStdString(name)).toStdString();
    }

    // Renders the PDF bytes; the failure's case, or nothing on success.
    std::optional<DisplayError::Case> render(const QByteArray& pdf, DisplayModel model,
                                             const std::string& output = "frame.png") {
        testing::writeFile(QString::fromStdString(path("issue.pdf")), pdf);
        try {
            DisplayRenderer::render(path("issue.pdf"), path(output), model);
        } catch (const DisplayError& error) {
            return error.errorCase();
        }
        return std::nullopt;
    }

    [[nodiscard]] PngFrame frame(const std::string& output = "frame.png") const {
        auto frame = testing::readPngFrame(QString::fromStdString(path(output)));
        EXPECT_TRUE(frame.has_value());
        return frame.value_or(PngFrame{});
    }
};

FixturePage pageWith(testing::PdfBox mediaBox, std::optional<int> rotate = std::nullopt) {
    return {mediaBox, std::nullopt, rotate, "0 g 0 0 612 792 re f"};
}

// An earlier frame, readable by everyone, is replaced by a 0600 frame or
// survives a rejection as it was; no temporary file is ever left behind.
TEST_F(DisplayRendererTest, AcceptsOnlyIssuesOfOneToFourUnrotatedLetterPages) {
    const FixturePage letter = pageWith(usLetter);
    const std::vector<std::tuple<const char*, std::vector<FixturePage>, bool>> checks = {
        {"one letter page", {letter}, true},
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
        testing::writeFile(QString::fromStdString(path("frame.png")), "earlier frame");
        ASSERT_EQ(::chmod(path("frame.png").c_str(), 0644), 0);
        EXPECT_EQ(render(testing::fixturePdf(pages), DisplayModel::og),
                  accepted ? std::nullopt : std::optional(DisplayError::invalidPDF));
        const QString output = QString::fromStdString(path("frame.png"));
        EXPECT_EQ(testing::readFile(output) == "earlier frame", !accepted);
        EXPECT_EQ(testing::readPngFrame(output).value_or(PngFrame{}).image.width(),
                  accepted ? 800 : 0);
        struct stat status {};
        ASSERT_EQ(::stat(path("frame.png").c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, accepted ? 0600U : 0644U);
        EXPECT_EQ(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }
}

// A FIFO named as the issue is refused at once instead of blocking the caller.
TEST_F(DisplayRendererTest, RejectsWhatIsNotAPdfAndReportsAnUnwritableFolder) {
    EXPECT_EQ(render(QByteArray(), DisplayModel::x), DisplayError::invalidPDF);
    ASSERT_EQ(::mkfifo(path("pipe.pdf").c_str(), 0600), 0);
    EXPECT_THROW(DisplayRenderer::render(path("pipe.pdf"), path("frame.png"), DisplayModel::x),
                 DisplayError);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("frame.png"))));
    EXPECT_EQ(render(testing::grayLetterPdf(255), DisplayModel::og, "missing/frame.png"),
              DisplayError::render);
    // The temporary file beside the frame must fit in the folder too.
    const std::string longest = std::string(NAME_MAX - 4, 'f') + ".png";
    EXPECT_EQ(render(testing::grayLetterPdf(255), DisplayModel::og, longest), std::nullopt);
    EXPECT_EQ(frame(longest).image.width(), 800);
}

// A black page fills a full-height band centred in the frame, its partly
// covered edge pixels dark. The edges fall inside bytes, so a wrong bit order
// within a byte moves them. What a page draws beyond its media box, short of
// its edges, leaves the margins white. Gray 170 and lighter is white.
TEST_F(DisplayRendererTest, WritesOneBitGrayFramesWithTheFrontPageInACentredBand) {
    const FixturePage spilling{usLetter, std::nullopt, std::nullopt,
                               "0 g 0 0 612 792 re f -300 0 290 792 re f 622 0 290 792 re f"};
    for (const auto& [model, left, right] :
         {std::tuple{DisplayModel::og, 214, 585}, std::tuple{DisplayModel::x, 393, 1478}}) {
        SCOPED_TRACE(std::string(rawValue(model)));
        for (const QByteArray& pdf : {testing::grayLetterPdf(0), testing::fixturePdf({spilling})}) {
            ASSERT_EQ(render(pdf, model), std::nullopt);
            const PngFrame black = frame();
            EXPECT_EQ(black.image.size(), QSize(width(model), height(model)));
            EXPECT_EQ(std::pair(black.bitDepth, black.colorType), std::pair(1, 0));
            for (const int y : {0, black.image.height() / 2, black.image.height() - 1}) {
                for (int x = 0; x < black.image.width(); ++x) {
                    ASSERT_EQ(black.isWhite(x, y), x < left || x > right) << x << ", " << y;
                }
            }
        }
        QImage allWhite(QSize(width(model), height(model)), QImage::Format_Grayscale8);
        allWhite.fill(Qt::white);
        for (const int gray : {169, 170}) {
            ASSERT_EQ(render(testing::grayLetterPdf(gray), model), std::nullopt);
            EXPECT_EQ(frame().image == allWhite, gray == 170) << gray;
            EXPECT_EQ(frame().isWhite(width(model) / 2, height(model) / 2), gray == 170) << gray;
        }
    }
}

TEST_F(DisplayRendererTest, DrawsTheWholeMediaBoxWhenTheCropBoxIsSmaller) {
    // Black everywhere, white inside the crop box: the frame must show both.
    FixturePage page{usLetter, std::nullopt, std::nullopt,
                     "0 g 0 0 612 792 re f 1 g 100 100 412 592 re f"};
    ASSERT_EQ(render(testing::fixturePdf({page}), DisplayModel::x), std::nullopt);
    const PngFrame uncropped = frame();

    page.cropBox = testing::PdfBox{100, 100, 512, 692};
    ASSERT_EQ(render(testing::fixturePdf({page}), DisplayModel::x), std::nullopt);
    const PngFrame cropped = frame();

    EXPECT_EQ(cropped.image, uncropped.image);
    EXPECT_FALSE(cropped.isWhite(400, 10)) << "content outside the crop box is drawn";
    EXPECT_TRUE(cropped.isWhite(936, 702));
}

// However many threads draw the bands, across slanted edges, text, rules and
// photographs that cross band borders, the frame is the one-thread frame, and
// the PNG that render() writes holds exactly its pixels.
TEST_F(DisplayRendererTest, DrawsTheSameFrameOnAnyNumberOfThreads) {
    const FixturePage strokes{usLetter, std::nullopt, std::nullopt,
                              "0 g 3 w 10 10 m 600 780 l 600 10 l h S 0.6 g 50 600 m 300 100 500 "
                              "700 560 20 c f 1 g 306 396 m 320 380 l 290 380 l f"};
    for (const QByteArray& pdf : {testing::fixturePdf({strokes}), testing::grayLetterPdf(170),
                                  QByteArray::fromStdString(sample::denseIssuePdf(2))}) {
        testing::writeFile(QString::fromStdString(path("issue.pdf")), pdf);
        for (const auto model : allDisplayModels) {
            const auto oneThread = DisplayRenderer::rasterize(path("issue.pdf"), model, 1);
            DisplayRenderer::render(path("issue.pdf"), path("frame.png"), model);
            const QImage written = frame().image;
            for (int y = 0; y < oneThread.height; ++y) {
                const auto* row = oneThread.packed.data() +
                                  static_cast<std::ptrdiff_t>(y) * (oneThread.width / 8);
                for (int x = 0; x < oneThread.width; ++x) {
                    const bool white = ((row[x / 8] >> (7 - x % 8)) & 1) != 0;
                    ASSERT_EQ(written.constScanLine(y)[x] == 255, white) << x << ", " << y;
                }
            }
            for (const unsigned threads : {2U, 3U, 4U}) {
                EXPECT_TRUE(DisplayRenderer::rasterize(path("issue.pdf"), model, threads).packed ==
                            oneThread.packed)
                    << rawValue(model) << " on " << threads << " threads";
            }
        }
    }
}

} // namespace
} // namespace quillo
