// Render mode and the application mode through the built executable.
#include "tests/support/FixturePdf.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quillo {
namespace {

// Every request is read wherever the flag stands. One whose members are
// missing or of the wrong type is a malformed issue; input that is not JSON
// gets the parser's own description; either way on one line, and the output
// is not touched. MuPDF repairs a broken cross-reference table with a warning
// on stderr unless told otherwise: render mode's stderr stays empty on
// success. Render mode starts like a plain MuPDF tool: the loader's log shows
// no Qt and no GLib.
TEST(RenderMode, RejectsBadRequestsOnOneLineAndRendersAGoodOneQuietly) {
    const QTemporaryDir directory;
    const QString pdf = directory.filePath(QStringLiteral("issue.pdf"));
    const QString output = directory.filePath(QStringLiteral("frame.png"));
    QByteArray damaged = testing::grayLetterPdf(0);
    damaged.replace("startxref", "startxref\n999999\n%damaged");
    testing::writeFile(pdf, damaged);
    testing::writeFile(output, "earlier frame");
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_DEBUG"), QStringLiteral("libs"));
    environment.insert(QStringLiteral("LD_DEBUG_OUTPUT"), directory.filePath(QStringLiteral("ld")));
    const QByteArray failed = "Could not render display frame: ";
    const QByteArray invalidIssue = failed + "The issue must contain portrait US Letter pages.\n";
    const std::vector<std::pair<QByteArray, QByteArray>> cases{
        {R"({"pdf":"@PDF@","output":"@OUT@","model":"OG"})", invalidIssue},
        {R"({"pdf":"@PDF@","output":null,"model":"og"})", invalidIssue},
        {R"([{"pdf":"@PDF@","output":"@OUT@","model":"og"}])", invalidIssue},
        {R"({"pdf":"@PDF@.missing","output":"@OUT@","model":"x"})", invalidIssue},
        // A path cannot hold a NUL: the name before it is not written instead.
        {R"({"pdf":"@PDF@","output":"@OUT@\u0000x","model":"x"})",
         failed + "Could not render this display frame.\n"},
        {"{\"pdf\":", failed +
                          "parse error at line 1, column 8: syntax error while parsing value - "
                          "unexpected end of input; expected '[', '{', or a literal\n"},
        {R"({"pdf":"@PDF@","output":"@OUT@","model":"og"})", {}},
    };
    for (auto [json, error] : cases) {
        SCOPED_TRACE(json.toStdString());
        json.replace("@PDF@", pdf.toUtf8()).replace("@OUT@", output.toUtf8());
        const auto outcome =
            testing::runQuilloBar({QStringLiteral("--configure-stdin"), "extra", "--help",
                                   QStringLiteral("--render-display-stdin")},
                                  json, environment);
        EXPECT_EQ(outcome.exitStatus, error.isEmpty() ? 0 : 1);
        EXPECT_EQ(outcome.standardOutput,
                  error.isEmpty() ? "Rendered local 1-bit front-page image. No upload or print.\n"
                                  : QByteArray());
        EXPECT_EQ(outcome.standardError, error);
        EXPECT_EQ(testing::readFile(output) == "earlier frame", !error.isEmpty());
    }
    EXPECT_EQ(QImage(output).width(), 800);
    const QStringList logs = QDir(directory.path()).entryList({QStringLiteral("ld.*")});
    QByteArray loaded;
    for (const QString& log : logs) {
        loaded += testing::readFile(directory.filePath(log));
    }
    EXPECT_TRUE(loaded.contains("libquillo-kit.so"));
    EXPECT_FALSE(loaded.contains("libQt6") || loaded.contains("libglib")) << loaded.data();
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

// Each mode starts without core dumps and untraceable: the kernel then hands
// the files under its /proc entry to root, and its core size limit is zero.
// Root owns every entry anyway, so as root the modes run as another user; a
// checkout in a folder closed to others (a home, a mktemp -d folder) cannot
// run as that user at all, which says nothing of hardening.
TEST(ProgramEntry, EveryModeStartsWithoutCoreDumps) {
    const QString program = testing::buildRoot() + QStringLiteral("/bin/quillo-bar");
    QStringList asNobody;
    if (::geteuid() == 0) {
        asNobody = {"--reuid=65534", "--regid=65534", "--clear-groups", "--"};
        if (testing::runProgram("setpriv", asNobody + QStringList{"test", "-r", program}, {})
                .exitStatus != 0) {
            GTEST_SKIP() << "user 65534 cannot read the build tree: a folder above it is closed";
        }
    }
    for (const char* mode : {"--render-display-stdin", "--configure-stdin"}) {
        SCOPED_TRACE(mode);
        QProcess process;
        // Waits on its standard input, which stays open.
        if (asNobody.isEmpty()) {
            process.start(program, {QString::fromUtf8(mode)});
        } else {
            process.start(QStringLiteral("setpriv"), asNobody + QStringList{program, mode});
        }
        ASSERT_TRUE(process.waitForStarted());
        const QString entry = QStringLiteral("/proc/%1").arg(process.processId());
        // setpriv's own change of user makes it undumpable before the exec; a
        // mode run as this user is this user's until it hardens.
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return (asNobody.isEmpty() || QFileInfo(entry + "/exe").symLinkTarget() ==
                                              QFileInfo(program).canonicalFilePath()) &&
                   QFileInfo(entry + "/limits").ownerId() == 0 &&
                   QString::fromUtf8(testing::readFile(entry + "/limits"))
                       .contains(QRegularExpression(R"(Max core file size +0 +0 )"));
        }));
        process.closeWriteChannel();
        process.waitForFinished(10000);
    }
}

} // namespace
} // namespace quillo
