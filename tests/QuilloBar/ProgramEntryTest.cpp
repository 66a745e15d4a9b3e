// Render mode and the application mode through the built executable.
#include "tests/support/FixturePdf.h"
#include "tests/support/PngFrame.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quillo {
namespace {

const QStringList renderFlag{QStringLiteral("--render-display-stdin")};
const QByteArray renderedLine = "Rendered local 1-bit front-page image. No upload or print.\n";
const QByteArray invalidIssueLine =
    "Could not render display frame: The issue must contain portrait US Letter pages.\n";

class RenderModeTest : public ::testing::Test {
protected:
    QTemporaryDir directory;
    QString pdf = directory.filePath(QStringLiteral("issue.pdf"));
    QString output = directory.filePath(QStringLiteral("frame.png"));

    void SetUp() override { testing::writeFile(pdf, testing::grayLetterPdf(0)); }

    // The JSON with @PDF@ and @OUT@ standing for the fixture's paths.
    [[nodiscard]] QByteArray request(QByteArray json) const {
        return json.replace("@PDF@", pdf.toUtf8()).replace("@OUT@", output.toUtf8());
    }
};

// MuPDF repairs a broken cross-reference table with a warning on stderr unless
// told otherwise; render mode's stderr must stay empty on success. Render mode
// starts like a plain MuPDF tool: the loader's log shows no Qt and no GLib.
TEST_F(RenderModeTest, RendersBothModelsWhereverTheFlagStandsAndSaysSoOnOneLine) {
    QByteArray damaged = testing::grayLetterPdf(0);
    damaged.replace("startxref", "startxref\n999999\n%damaged");
    testing::writeFile(pdf, damaged);
    const QStringList afterOthers{QStringLiteral("--configure-stdin"), QStringLiteral("extra"),
                                  renderFlag[0]};
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_DEBUG"), QStringLiteral("libs"));
    environment.insert(QStringLiteral("LD_DEBUG_OUTPUT"), directory.filePath(QStringLiteral("ld")));
    for (const auto& [arguments, model, width] :
         {std::tuple{renderFlag, "og", 800}, std::tuple{afterOthers, "x", 1872}}) {
        SCOPED_TRACE(model);
        const auto outcome = testing::runQuilloBar(
            arguments,
            request(R"({"pdf":"@PDF@","output":"@OUT@","model":")" + QByteArray(model) + "\"}"),
            environment);
        EXPECT_EQ(outcome.exitStatus, 0);
        EXPECT_EQ(outcome.standardOutput, renderedLine);
        EXPECT_EQ(outcome.standardError, QByteArray());
        const auto frame = testing::readPngFrame(output);
        ASSERT_TRUE(frame.has_value());
        EXPECT_EQ(frame->image.width(), width);
    }
    const QStringList logs = QDir(directory.path()).entryList({QStringLiteral("ld.*")});
    ASSERT_EQ(logs.size(), 2);
    for (const QString& log : logs) {
        const QByteArray loaded = testing::readFile(directory.filePath(log));
        EXPECT_TRUE(loaded.contains("libquillo-kit.so"));
        EXPECT_FALSE(loaded.contains("libQt6") || loaded.contains("libglib")) << loaded.data();
    }
}

// A request whose members are missing or of the wrong type is a malformed
// issue; input that is not JSON gets the parser's own description on one
// line; the output is never touched.
TEST_F(RenderModeTest, RejectsBadRequestsWithOneLineAndLeavesTheOutputAlone) {
    testing::writeFile(output, "earlier frame");
    const QByteArray parser = "parser";
    const std::vector<std::pair<QByteArray, QByteArray>> cases{
        {R"({"pdf":"@PDF@","output":"@OUT@","model":"OG"})", invalidIssueLine},
        {R"({"pdf":"@PDF@","output":"@OUT@"})", invalidIssueLine},
        {R"({"pdf":"@PDF@","output":"@OUT@","model":1})", invalidIssueLine},
        {R"({"pdf":"@PDF@","output":null,"model":"og"})", invalidIssueLine},
        {R"([{"pdf":"@PDF@","output":"@OUT@","model":"og"}])", invalidIssueLine},
        {R"({"pdf":"@PDF@.missing","output":"@OUT@","model":"x"})", invalidIssueLine},
        // A path cannot hold a NUL: the name before it is not written instead.
        {R"({"pdf":"@PDF@","output":"@OUT@\u0000x","model":"x"})",
         "Could not render display frame: Could not render this display frame.\n"},
        {"", parser},
        {"{\"pdf\":", parser},
    };
    for (const auto& [json, message] : cases) {
        SCOPED_TRACE(json.toStdString());
        const auto outcome = testing::runQuilloBar(renderFlag, request(json));
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.standardOutput, QByteArray());
        if (message == parser) {
            EXPECT_TRUE(outcome.standardError.startsWith("Could not render display frame: "));
            EXPECT_EQ(outcome.standardError.indexOf('\n'), outcome.standardError.size() - 1);
            EXPECT_NE(outcome.standardError, invalidIssueLine);
        } else {
            EXPECT_EQ(outcome.standardError, message);
        }
    }
    EXPECT_EQ(testing::readFile(output), "earlier frame");
}

// Without /proc/self/exe no module or tool is looked up relative to the
// working folder: every mode stops with one line.
TEST(ProgramEntry, EveryModeFailsClosedWithoutItsInstallFolder) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "hiding /proc takes a mount namespace, which needs root";
    }
    const QString program = testing::buildRoot() + QStringLiteral("/bin/quillo-bar");
    for (const char* mode : {"--render-display-stdin", "--configure-stdin", "--preview-settings"}) {
        const auto outcome = testing::runProgram(
            QStringLiteral("unshare"),
            {"-m", "sh", "-c", "mount -t tmpfs none /proc && exec \"$0\" \"$1\"", program, mode},
            "{}");
        EXPECT_EQ(outcome.exitStatus, 1) << mode;
        EXPECT_EQ(outcome.standardError,
                  "Quillo cannot find its install folder: /proc/self/exe is unreadable.\n");
    }
}

} // namespace
} // namespace quillo
