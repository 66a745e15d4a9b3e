#include "kit/DisplayRenderer.h"

#include "tests/support/FixturePdf.h"
#include "tests/support/PngFrame.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <future>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

namespace quillo {
namespace {

using testing::FixturePage;
using testing::PngFrame;
using testing::usLetter;

const std::string blackPage = "0 g 0 0 612 792 re f";

class DisplayRendererTest : public ::testing::Test {
protected:
    QTemporaryDir directory;

    [[nodiscard]] QString path(const QString& name) const { return directory.filePath(name); }

    // Renders the PDF bytes; the failure's case, or nothing on success.
    std::optional<DisplayError::Case> render(const QByteArray& pdf, DisplayModel model,
                                             const QString& output = QStringLiteral("frame.png")) {
        testing::writeFile(path("issue.pdf"), pdf);
        try {
            DisplayRenderer::render(path("issue.pdf").toStdString(), path(output).toStdString(),
                                    model);
        } catch (const DisplayError& error) {
            return error.errorCase();
        }
        return std::nullopt;
    }

    PngFrame frame(const QString& output = QStringLiteral("frame.png")) {
        auto frame = testing::readPngFrame(path(output));
        EXPECT_TRUE(frame.has_value());
        return frame.value_or(PngFrame{});
    }
};

FixturePage pageWith(testing::PdfBox mediaBox, std::optional<int> rotate = std::nullopt) {
    FixturePage page;
    page.mediaBox = mediaBox;
    page.rotate = rotate;
    page.content = blackPage;
    return page;
}

struct PageCheck {
    const char* name;
    std::vector<FixturePage> pages;
    bool accepted;
};

TEST_F(DisplayRendererTest, acceptsOnlyIssuesOfOneToFourUnrotatedLetterPages) {
    const FixturePage letter = pageWith(usLetter);
    const std::vector<PageCheck> checks = {
        {"one letter page", {letter}, true},
        {"four letter pages", {letter, letter, letter, letter}, true},
        {"width off by 0.09", {pageWith({0, 0, 612.09, 792})}, true},
        {"height off by 0.09 below", {pageWith({0, 0, 612, 791.91})}, true},
        {"media box not at the origin", {pageWith({-20, 30, 592, 822})}, true},
        {"explicit zero rotation", {pageWith(usLetter, 0)}, true},
        {"five pages", {letter, letter, letter, letter, letter}, false},
        {"no pages", {}, false},
        {"width off by 0.1", {pageWith({0, 0, 612.1, 792})}, false},
        {"height off by 0.1", {pageWith({0, 0, 612, 791.9})}, false},
        {"A4", {pageWith({0, 0, 595, 842})}, false},
        {"landscape letter", {pageWith({0, 0, 792, 612})}, false},
        {"rotated portrait page", {pageWith(usLetter, 90)}, false},
        {"rotated by a full turn", {pageWith(usLetter, 360)}, false},
        {"landscape second page", {letter, pageWith({0, 0, 792, 612})}, false},
        {"rotated last page", {letter, letter, pageWith(usLetter, 270)}, false},
    };
    for (const auto& check : checks) {
        SCOPED_TRACE(check.name);
        // An earlier frame at the output path must survive every rejection.
        testing::writeFile(path("frame.png"), "earlier frame");
        ASSERT_EQ(::chmod(path("frame.png").toLocal8Bit().constData(), 0644), 0);

        const auto failure = render(testing::fixturePdf(check.pages), DisplayModel::og);

        if (check.accepted) {
            EXPECT_EQ(failure, std::nullopt);
            EXPECT_EQ(frame().width, 800);
        } else {
            EXPECT_EQ(failure, DisplayError::invalidPDF);
            QFile earlier(path("frame.png"));
            ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
            EXPECT_EQ(earlier.readAll(), "earlier frame");
            EXPECT_EQ(earlier.permissions() & QFileDevice::ReadOther, QFileDevice::ReadOther);
        }
        EXPECT_EQ(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden).size(), 2)
            << "no temporary file may be left behind";
    }
}

TEST_F(DisplayRendererTest, rejectsWhatIsNotAPdf) {
    EXPECT_EQ(render("Dear reader, this is not a PDF.\n", DisplayModel::x),
              DisplayError::invalidPDF);
    EXPECT_EQ(render(QByteArray(), DisplayModel::x), DisplayError::invalidPDF);
    EXPECT_FALSE(QFile::exists(path("frame.png")));
}

TEST_F(DisplayRendererTest, writesOneBitGrayFramesOfTheModelsSizeWithModeOwnerOnly) {
    for (const auto model : allDisplayModels) {
        SCOPED_TRACE(std::string(rawValue(model)));
        testing::writeFile(path("frame.png"), "readable by everyone");
        ASSERT_EQ(::chmod(path("frame.png").toLocal8Bit().constData(), 0644), 0);

        ASSERT_EQ(render(testing::grayLetterPdf(255), model), std::nullopt);

        const PngFrame white = frame();
        EXPECT_EQ(white.width, width(model));
        EXPECT_EQ(white.height, height(model));
        EXPECT_EQ(white.bitDepth, 1);
        EXPECT_EQ(white.colorType, 0);
        EXPECT_EQ(white.rowBytes, static_cast<std::size_t>(width(model) / 8));
        EXPECT_TRUE(std::all_of(white.samples.begin(), white.samples.end(),
                                [](std::uint8_t byte) { return byte == 0xFF; }));
        struct stat status {};
        ASSERT_EQ(::stat(path("frame.png").toLocal8Bit().constData(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0600U);
    }
}

TEST_F(DisplayRendererTest, thresholdsAt170) {
    ASSERT_EQ(render(testing::grayLetterPdf(169), DisplayModel::og), std::nullopt);
    EXPECT_FALSE(frame().isWhite(400, 240));
    ASSERT_EQ(render(testing::grayLetterPdf(170), DisplayModel::og), std::nullopt);
    EXPECT_TRUE(frame().isWhite(400, 240));
}

// A black page fills a full-height band centred in the frame; the edge pixels
// are partly covered and fall dark, and each byte's leftmost pixel is its top bit.
TEST_F(DisplayRendererTest, placesTheFrontPageInACentredBandWithWhiteMargins) {
    struct Band {
        DisplayModel model;
        int leftByte;
        std::uint8_t leftEdge;
        int rightByte;
        std::uint8_t rightEdge;
    };
    for (const Band& band :
         {Band{DisplayModel::og, 26, 0xFC, 73, 0x3F}, Band{DisplayModel::x, 49, 0x80, 184, 0x01}}) {
        SCOPED_TRACE(std::string(rawValue(band.model)));
        ASSERT_EQ(render(testing::grayLetterPdf(0), band.model), std::nullopt);
        const PngFrame black = frame();
        for (const int y : {0, black.height / 2, black.height - 1}) {
            const std::uint8_t* row = black.row(y);
            for (int byte = 0; byte < static_cast<int>(black.rowBytes); ++byte) {
                std::uint8_t expected = 0x00;
                if (byte < band.leftByte || byte > band.rightByte) {
                    expected = 0xFF;
                } else if (byte == band.leftByte) {
                    expected = band.leftEdge;
                } else if (byte == band.rightByte) {
                    expected = band.rightEdge;
                }
                ASSERT_EQ(row[byte], expected) << "row " << y << ", byte " << byte;
            }
        }
    }
}

TEST_F(DisplayRendererTest, drawsTheWholeMediaBoxWhenTheCropBoxIsSmaller) {
    FixturePage page;
    // Black everywhere, white inside the crop box: the frame must show both.
    page.content = "0 g 0 0 612 792 re f 1 g 100 100 412 592 re f";
    ASSERT_EQ(render(testing::fixturePdf({page}), DisplayModel::x), std::nullopt);
    const PngFrame uncropped = frame();

    page.cropBox = testing::PdfBox{100, 100, 512, 692};
    ASSERT_EQ(render(testing::fixturePdf({page}), DisplayModel::x), std::nullopt);
    const PngFrame cropped = frame();

    EXPECT_EQ(cropped.samples, uncropped.samples);
    EXPECT_FALSE(cropped.isWhite(400, 10)) << "content outside the crop box is drawn";
    EXPECT_TRUE(cropped.isWhite(936, 702));
}

TEST_F(DisplayRendererTest, failsToRenderWhenTheOutputFolderIsMissing) {
    EXPECT_EQ(
        render(testing::grayLetterPdf(255), DisplayModel::og, QStringLiteral("missing/frame.png")),
        DisplayError::render);
}

TEST_F(DisplayRendererTest, rendersOnSeveralThreadsAtOnce) {
    testing::writeFile(path("issue.pdf"), testing::grayLetterPdf(0));
    auto renderTo = [this](const QString& name) {
        return std::async(std::launch::async, [this, name] {
            DisplayRenderer::render(path("issue.pdf").toStdString(), path(name).toStdString(),
                                    DisplayModel::x);
        });
    };
    auto first = renderTo(QStringLiteral("first.png"));
    auto second = renderTo(QStringLiteral("second.png"));
    first.get();
    second.get();
    EXPECT_EQ(frame(QStringLiteral("first.png")).samples,
              frame(QStringLiteral("second.png")).samples);
}

} // namespace
} // namespace quillo
