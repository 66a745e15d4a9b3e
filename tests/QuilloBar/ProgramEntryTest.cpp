// Render mode and the application mode through the built executable.
#include "tests/support/FixturePdf.h"
#include "tests/support/PngFrame.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QFile>
#include <QProcess>
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
        QFile file(directory.filePath(log));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray loaded = file.readAll();
        EXPECT_TRUE(loaded.contains("libquillo-kit.so"));
        EXPECT_FALSE(loaded.contains("libQt6") || loaded.contains("libglib")) << loaded.data();
    }
}

TEST_F(RenderModeTest, RejectsMalformedRequestsAsAnInvalidIssueAndLeavesTheOutputAlone) {
    testing::writeFile(output, "earlier frame");
    for (const char* json : {
             R"({"pdf":"@PDF@","output":"@OUT@","model":"OG"})",
             R"({"pdf":"@PDF@","output":"@OUT@","model":" og"})",
             R"({"pdf":"@PDF@","output":"@OUT@"})",
             R"({"pdf":"@PDF@","output":"@OUT@","model":1})",
             R"({"pdf":7,"output":"@OUT@","model":"og"})",
             R"({"pdf":"@PDF@","output":null,"model":"og"})",
             R"([{"pdf":"@PDF@","output":"@OUT@","model":"og"}])",
             R"({"pdf":"@PDF@.missing","output":"@OUT@","model":"x"})",
             R"({"pdf":"@PDF@\u0000.missing","output":"@OUT@","model":"x"})",
         }) {
        SCOPED_TRACE(json);
        const auto outcome = testing::runQuilloBar(renderFlag, request(json));
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.standardOutput, QByteArray());
        EXPECT_EQ(outcome.standardError, invalidIssueLine);
    }
    // A path cannot hold a NUL: the name before it is not written instead.
    EXPECT_EQ(testing::runQuilloBar(
                  renderFlag, request(R"({"pdf":"@PDF@","output":"@OUT@\u0000x","model":"x"})"))
                  .standardError,
              "Could not render display frame: Could not render this display frame.\n");
    QFile earlier(output);
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    EXPECT_EQ(earlier.readAll(), "earlier frame");
}

TEST_F(RenderModeTest, ReportsTheParsersOwnDescriptionForInputThatIsNotJson) {
    for (const QByteArray& input : {QByteArray(), QByteArray("5"), QByteArray("{\"pdf\":")}) {
        SCOPED_TRACE(input.toStdString());
        const auto outcome = testing::runQuilloBar(renderFlag, input);
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.standardOutput, QByteArray());
        EXPECT_TRUE(outcome.standardError.startsWith("Could not render display frame: "));
        EXPECT_EQ(outcome.standardError.indexOf('\n'), outcome.standardError.size() - 1);
        EXPECT_NE(outcome.standardError, invalidIssueLine);
    }
}

// Without a headless flag the executable loads the tray module and keeps
// running; in a home of its own, with no session bus to reach a keyring on,
// so that it neither meets nor reopens an agent of the reader's.
TEST(ProgramEntry, ApplicationModeStartsTheTrayApplicationAndKeepsRunning) {
    QProcess application;
    QTemporaryDir home;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const char* folder :
         {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        environment.insert(QString::fromLatin1(folder), home.filePath(QString::fromLatin1(folder)));
    }
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + home.filePath(QStringLiteral("no-bus")));
    application.setProcessEnvironment(environment);
    application.start(testing::buildRoot() + QStringLiteral("/bin/quillo-bar"), {});
    ASSERT_TRUE(application.waitForStarted());
    EXPECT_FALSE(application.waitForFinished(1500)) << application.readAllStandardError().data();
    application.kill();
    application.waitForFinished();
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
