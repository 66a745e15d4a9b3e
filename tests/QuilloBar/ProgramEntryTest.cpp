#include "tests/support/FixturePdf.h"
#include "tests/support/PngFrame.h"
#include "tests/support/QuilloBarProcess.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace quillo {
namespace {

using testing::runQuilloBar;

const QByteArray renderedLine = "Rendered local 1-bit front-page image. No upload or print.\n";
const QByteArray invalidIssueLine =
    "Could not render display frame: The issue must contain portrait US Letter pages.\n";

class RenderModeTest : public ::testing::Test {
protected:
    QTemporaryDir directory;
    QString pdf = directory.filePath(QStringLiteral("issue.pdf"));
    QString output = directory.filePath(QStringLiteral("frame.png"));

    void SetUp() override { testing::writeFile(pdf, testing::grayLetterPdf(0)); }

    [[nodiscard]] QByteArray request(const QJsonObject& members) const {
        QJsonObject object{{QStringLiteral("pdf"), pdf}, {QStringLiteral("output"), output}};
        for (auto member = members.begin(); member != members.end(); ++member) {
            object.insert(member.key(), member.value());
        }
        return QJsonDocument(object).toJson(QJsonDocument::Compact);
    }
};

TEST_F(RenderModeTest, rendersBothModelsAndSaysSoOnOneLine) {
    for (const char* model : {"og", "x"}) {
        SCOPED_TRACE(model);
        const auto outcome =
            runQuilloBar({QStringLiteral("--render-display-stdin")},
                         request({{QStringLiteral("model"), QString::fromLatin1(model)}}));
        EXPECT_EQ(outcome.exitStatus, 0);
        EXPECT_EQ(outcome.standardOutput, renderedLine);
        EXPECT_EQ(outcome.standardError, QByteArray());
        const auto frame = testing::readPngFrame(output);
        ASSERT_TRUE(frame.has_value());
        EXPECT_EQ(frame->width, model == std::string_view("og") ? 800 : 1872);
    }
}

// MuPDF repairs a broken cross-reference table with a warning on stderr unless
// told otherwise; render mode's stderr must stay empty on success.
TEST_F(RenderModeTest, keepsLibraryWarningsOffStandardError) {
    QByteArray damaged = testing::grayLetterPdf(0);
    damaged.replace("startxref", "startxref\n999999\n%damaged");
    testing::writeFile(pdf, damaged);
    const auto outcome = runQuilloBar({QStringLiteral("--render-display-stdin")},
                                      request({{QStringLiteral("model"), QStringLiteral("og")}}));
    EXPECT_EQ(outcome.exitStatus, 0);
    EXPECT_EQ(outcome.standardOutput, renderedLine);
    EXPECT_EQ(outcome.standardError, QByteArray());
}

TEST_F(RenderModeTest, renderFlagWinsWhereverItStands) {
    const auto outcome = runQuilloBar({QStringLiteral("--configure-stdin"), QStringLiteral("extra"),
                                       QStringLiteral("--render-display-stdin")},
                                      request({{QStringLiteral("model"), QStringLiteral("og")}}));
    EXPECT_EQ(outcome.exitStatus, 0);
    EXPECT_EQ(outcome.standardOutput, renderedLine);
}

TEST_F(RenderModeTest, rejectsMalformedRequestsAsAnInvalidIssueAndLeavesTheOutputAlone) {
    testing::writeFile(output, "earlier frame");
    const std::vector<std::pair<const char*, QByteArray>> requests = {
        {"model in capitals", request({{QStringLiteral("model"), QStringLiteral("OG")}})},
        {"padded model", request({{QStringLiteral("model"), QStringLiteral(" og")}})},
        {"missing model", request({})},
        {"model as a number", request({{QStringLiteral("model"), 1}})},
        {"pdf as a number",
         request({{QStringLiteral("model"), QStringLiteral("og")}, {QStringLiteral("pdf"), 7}})},
        {"output as null", request({{QStringLiteral("model"), QStringLiteral("og")},
                                    {QStringLiteral("output"), QJsonValue()}})},
        {"an array", "[{\"pdf\":\"a.pdf\",\"output\":\"b.png\",\"model\":\"og\"}]"},
        {"a PDF that is not a letter issue",
         request({{QStringLiteral("model"), QStringLiteral("x")},
                  {QStringLiteral("pdf"), directory.filePath(QStringLiteral("missing.pdf"))}})},
    };
    for (const auto& [name, input] : requests) {
        SCOPED_TRACE(name);
        const auto outcome = runQuilloBar({QStringLiteral("--render-display-stdin")}, input);
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.standardOutput, QByteArray());
        EXPECT_EQ(outcome.standardError, invalidIssueLine);
    }
    QFile earlier(output);
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    EXPECT_EQ(earlier.readAll(), "earlier frame");
}

TEST_F(RenderModeTest, reportsTheParsersOwnDescriptionForInputThatIsNotJson) {
    for (const QByteArray& input :
         {QByteArray(), QByteArray("5"), QByteArray("{\"pdf\":"), QByteArray("not json at all")}) {
        SCOPED_TRACE(input.toStdString());
        const auto outcome = runQuilloBar({QStringLiteral("--render-display-stdin")}, input);
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.standardOutput, QByteArray());
        EXPECT_TRUE(outcome.standardError.startsWith("Could not render display frame: "));
        EXPECT_TRUE(outcome.standardError.endsWith('\n'));
        EXPECT_EQ(outcome.standardError.count('\n'), 1);
        EXPECT_NE(outcome.standardError, invalidIssueLine);
    }
}

TEST_F(RenderModeTest, configureModeRunsWhenOnlyItsFlagIsGiven) {
    const auto outcome = runQuilloBar({QStringLiteral("--configure-stdin")}, "not json");
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.standardError, "Could not configure Quillo.\n");
}

// Without a headless flag the executable loads the tray module and keeps running.
TEST(ProgramEntry, applicationModeStartsTheTrayApplicationAndKeepsRunning) {
    QProcess application;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    application.setProcessEnvironment(environment);
    application.start(testing::buildRoot() + QStringLiteral("/bin/quillo-bar"), {});
    ASSERT_TRUE(application.waitForStarted());
    EXPECT_FALSE(application.waitForFinished(1500)) << application.readAllStandardError().data();
    application.kill();
    application.waitForFinished();
}

} // namespace
} // namespace quillo
