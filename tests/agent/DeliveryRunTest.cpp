#include "agent/DeliveryRun.h"

#include "tests/agent/FakeCompanionTool.h"
#include "tests/support/FixturePdf.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace quillo {
namespace {

using namespace std::chrono_literals;
using enum DeliveryDestination;
using testing::FakeCompanionTool;

const QString download = QStringLiteral("download");
const QString print = QStringLiteral("print");
const QString sync = QStringLiteral("sync");
const QByteArray readyIssue = R"({"state":"ready","issue":"issue.12","pdf":"@PDF@"})";
const QString notAnIssue = QString::fromUtf8(DisplayError(DisplayError::invalidPDF).what());
const QString uploaded = QStringLiteral("Uploaded to TRMNL \u00B7 awaiting screen refresh");

enum class Pdf : std::uint8_t { issue, notAPdf, missing };

struct RunCase {
    const char* name;
    DeliveryDestination destination;
    bool delivery;
    QByteArray check;
    int checkStatus;
    QByteArray print;
    Pdf pdf;
    QString result;
    QStringList calls;
};

class DeliveryRunTest : public ::testing::Test {
protected:
    [[nodiscard]] QString pdfPath() const {
        return tool->cacheDirectory() + QStringLiteral("/issue.12.pdf");
    }

    void prepare(Pdf pdf, QByteArray check, int checkStatus = 0) const {
        if (pdf != Pdf::missing) {
            testing::writeFile(pdfPath(),
                               pdf == Pdf::issue ? testing::grayLetterPdf(0) : "not a pdf");
        }
        tool->answer(download, check.replace("@PDF@", pdfPath().toUtf8()), checkStatus);
    }

    [[nodiscard]] RunSettings settings(DeliveryDestination destination, bool delivery) const {
        return {QStringLiteral("https://news.example/"),
                QStringLiteral("key-123"),
                tool->toolPath(),
                destination,
                2,
                delivery,
                true,
                QStringLiteral("Kitchen Laser"),
                DisplayModel::x,
                QStringLiteral("https://trmnl.example/hook/abc")};
    }

    std::unique_ptr<FakeCompanionTool> tool = std::make_unique<FakeCompanionTool>();
};

TEST_F(DeliveryRunTest, EachToolAnswerGivesItsResultLine) {
    const QStringList d{download};
    const QStringList dp{download, print};
    // clang-format off
    const std::vector<RunCase> cases{
        {"check fails", printer, true, "\n  network down \n", 3, {}, Pdf::issue,
         "Check failed: network down", d},
        {"warning before the JSON", printer, true, "warning: slow\n{\"issue\":\"1\"}\n", 0, {},
         Pdf::issue, "Check failed: warning: slow\n{\"issue\":\"1\"}", d},
        {"disabled is looked at first", printer, true,
         R"({"state":"disabled","issue":"issue.12","pdf":"@PDF@"})", 0, {}, Pdf::issue,
         "Enable local delivery in Quillo web preferences", d},
        {"waiting", printer, true, R"({"state":"waiting"})", 0, {}, Pdf::issue,
         "Waiting for your first issue", d},
        {"issue without pdf", printer, true, R"({"issue":"issue.12"})", 0, {}, Pdf::issue,
         "No validated issue available", d},
        {"check only; a state of the wrong type is ignored", both, false,
         R"({"state":["disabled"],"issue":"issue.12","pdf":"@PDF@"})", 0, {}, Pdf::issue,
         "Latest issue ready \u00B7 automatic delivery on", d},
        {"refusal outranks already printed", printer, true, readyIssue, 0,
         "disabled\nAlready printed\n", Pdf::issue,
         "Print stopped: delivery permission changed", dp},
        {"no issue to print", printer, true, readyIssue, 0, "No issue today\n", Pdf::issue,
         "Print stopped: delivery permission changed", dp},
        {"pdf vanished", printer, true, readyIssue, 0, {}, Pdf::missing,
         "Validated PDF is unavailable", d},
        {"render fails", display, true, readyIssue, 0, {}, Pdf::notAPdf,
         "Display render failed: " + notAnIssue, d},
        {"printed, render fails", both, true, readyIssue, 0, {}, Pdf::notAPdf,
         "Sent to print queue \u00B7 Display render failed: " + notAnIssue, dp},
    };
    // clang-format on
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        tool = std::make_unique<FakeCompanionTool>();
        prepare(testCase.pdf, testCase.check, testCase.checkStatus);
        tool->answer(print, testCase.print);

        EXPECT_EQ(performRun(settings(testCase.destination, testCase.delivery)), testCase.result);
        EXPECT_EQ(tool->calls(), testCase.calls);
        EXPECT_FALSE(QFile::exists(displayFramePath(pdfPath())));
    }
}

TEST_F(DeliveryRunTest, ToolCommandLinesAndEnvironments) {
    prepare(Pdf::issue, readyIssue);
    ASSERT_EQ(performRun(settings(both, true)), "Sent to print queue \u00B7 " + uploaded);

    const QStringList service{"QUILLO_PRINT_TOKEN=key-123", "QUILLO_URL=https://news.example/"};
    EXPECT_EQ(tool->arguments(download), QStringList({"download", "--max-pages", "2"}));
    EXPECT_EQ(tool->environment(download), service);
    EXPECT_EQ(tool->arguments(print),
              QStringList({"print", "--printer", "Kitchen Laser", "--max-pages", "2",
                           "--expected-issue", "issue.12", "--expected-sha256",
                           testing::sha256(testing::readFile(pdfPath()))}));
    EXPECT_EQ(tool->environment(print), service);

    const QString frame = tool->cacheDirectory() + QStringLiteral("/issue.12.display.png");
    EXPECT_EQ(tool->arguments(sync), QStringList({"sync", "--image", frame, "--issue", "issue.12",
                                                  "--width", "1872", "--height", "1404"}));
    EXPECT_EQ(tool->environment(sync),
              QStringList{"QUILLO_EINK_WEBHOOK=https://trmnl.example/hook/abc"});

    // The display alone checks up to four pages whatever the page count.
    auto displayOnly = settings(display, false);
    displayOnly.pageCount = 1;
    performRun(displayOnly);
    EXPECT_EQ(tool->arguments(download), QStringList({"download", "--max-pages", "4"}));
}

// A hung check is the end-to-end test's; here a later step hangs.
TEST_F(DeliveryRunTest, StepThatDoesNotFinishEndsAtTheTimeLimit) {
    prepare(Pdf::issue, readyIssue);
    tool->hold(sync);
    EXPECT_EQ(performRun(settings(both, true), 300ms),
              "Sent to print queue \u00B7 Display stopped: " + toolTimeoutMessage);
}

} // namespace
} // namespace quillo
