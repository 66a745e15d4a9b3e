#include "agent/DeliveryRun.h"

#include "store/Sha256.h"
#include "tests/agent/FakeCompanionTool.h"
#include "tests/support/FixturePdf.h"

#include <QFile>
#include <QImage>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace quillo {
namespace {

using namespace std::chrono_literals;
using testing::FakeCompanionTool;

const QString download = QStringLiteral("download");
const QString print = QStringLiteral("print");
const QString sync = QStringLiteral("sync");

const QByteArray readyIssue = R"({"state":"ready","issue":"issue-12","pdf":"@PDF@"})";
const QString invalidPdfDescription =
    QString::fromUtf8(DisplayError(DisplayError::invalidPDF).what());

enum class PdfOnDisk : std::uint8_t { issue, notAPdf, missing };

class DeliveryRunTest : public ::testing::Test {
protected:
    [[nodiscard]] QString pdfPath() const {
        return tool->cacheDirectory() + QStringLiteral("/issue-12.pdf");
    }

    void placePdf(PdfOnDisk kind) const {
        if (kind == PdfOnDisk::issue) {
            testing::writeFile(pdfPath(), testing::grayLetterPdf(0));
        } else if (kind == PdfOnDisk::notAPdf) {
            testing::writeFile(pdfPath(), "not a pdf");
        }
    }

    void answerCheck(QByteArray output, int exitStatus = 0) const {
        tool->answer(download, output.replace("@PDF@", pdfPath().toUtf8()), exitStatus);
    }

    [[nodiscard]] RunSettings settings(DeliveryDestination destination, bool delivery) const {
        RunSettings settings;
        settings.origin = QStringLiteral("https://news.example/");
        settings.deliveryKey = QStringLiteral("key-123");
        settings.toolPath = tool->toolPath();
        settings.destination = destination;
        settings.pageCount = 2;
        settings.delivery = delivery;
        settings.printer = QStringLiteral("Kitchen_Laser");
        settings.displayModel = DisplayModel::x;
        settings.webhook = QStringLiteral("https://trmnl.example/hook/abc");
        return settings;
    }

    std::unique_ptr<FakeCompanionTool> tool = std::make_unique<FakeCompanionTool>();
};

struct RunCase {
    const char* name;
    DeliveryDestination destination = DeliveryDestination::printer;
    bool delivery = true;
    bool automatic = false;
    QByteArray check = readyIssue;
    int checkStatus = 0;
    QByteArray print;
    int printStatus = 0;
    QByteArray sync;
    int syncStatus = 0;
    PdfOnDisk pdf = PdfOnDisk::issue;
    QString result;
    QStringList calls;
};

TEST_F(DeliveryRunTest, EachToolAnswerGivesItsResultLine) {
    using enum DeliveryDestination;
    const std::vector<RunCase> cases{
        // The check, on its own.
        {.name = "check fails with a message",
         .check = "network down\n",
         .checkStatus = 3,
         .result = QStringLiteral("Check failed: network down"),
         .calls = {download}},
        {.name = "top-level array",
         .check = "[1, 2]\n",
         .result = QStringLiteral("Check failed: [1, 2]"),
         .calls = {download}},
        {.name = "warning before the JSON",
         .check = "warning: slow link\n{\"state\":\"ready\"}\n",
         .result = QStringLiteral("Check failed: warning: slow link\n{\"state\":\"ready\"}"),
         .calls = {download}},
        {.name = "disabled wins over an issue",
         .check = R"({"state":"disabled","issue":"issue-12","pdf":"@PDF@"})",
         .result = QStringLiteral("Enable local delivery in Quillo web preferences"),
         .calls = {download}},
        {.name = "waiting",
         .check = R"({"state":"waiting"})",
         .result = QStringLiteral("Waiting for your first issue"),
         .calls = {download}},
        {.name = "issue without pdf",
         .check = R"({"issue":"issue-12"})",
         .result = QStringLiteral("No validated issue available"),
         .calls = {download}},
        {.name = "issue of the wrong type",
         .check = R"({"issue":12,"pdf":"@PDF@"})",
         .result = QStringLiteral("No validated issue available"),
         .calls = {download}},
        {.name = "check only, automatic off, state of the wrong type ignored",
         .delivery = false,
         .check = R"({"state":["disabled"],"issue":"issue-12","pdf":"@PDF@"})",
         .result = QStringLiteral("Latest issue ready \u00B7 automatic delivery off"),
         .calls = {download}},
        {.name = "check only, automatic on",
         .destination = both,
         .delivery = false,
         .automatic = true,
         .result = QStringLiteral("Latest issue ready \u00B7 automatic delivery on"),
         .calls = {download}},
        // Printer.
        {.name = "sent to print queue",
         .print = "job 7 queued\n",
         .result = QStringLiteral("Sent to print queue"),
         .calls = {download, print}},
        {.name = "already printed",
         .print = "Already printed issue-12\n",
         .result = QStringLiteral("Already printed"),
         .calls = {download, print}},
        {.name = "refusal outranks already printed",
         .print = "disabled\nAlready printed\n",
         .result = QStringLiteral("Print stopped: delivery permission changed"),
         .calls = {download, print}},
        {.name = "no issue to print",
         .print = "No issue for today\n",
         .result = QStringLiteral("Print stopped: delivery permission changed"),
         .calls = {download, print}},
        {.name = "print fails",
         .print = "\n  out of paper \n",
         .printStatus = 2,
         .result = QStringLiteral("Print stopped: out of paper"),
         .calls = {download, print}},
        {.name = "pdf vanished before printing",
         .pdf = PdfOnDisk::missing,
         .result = QStringLiteral("Validated PDF is unavailable"),
         .calls = {download}},
        // Display.
        {.name = "uploaded",
         .destination = display,
         .sync = "accepted\n",
         .result = QStringLiteral("Uploaded to TRMNL \u00B7 awaiting screen refresh"),
         .calls = {download, sync}},
        {.name = "display already synced",
         .destination = display,
         .sync = "already_synced\n",
         .result = QStringLiteral("Display already synced"),
         .calls = {download, sync}},
        {.name = "upload fails",
         .destination = display,
         .sync = "webhook rejected the image\n",
         .syncStatus = 1,
         .result = QStringLiteral("Display stopped: webhook rejected the image"),
         .calls = {download, sync}},
        {.name = "render fails",
         .destination = display,
         .pdf = PdfOnDisk::notAPdf,
         .result = QStringLiteral("Display render failed: ") + invalidPdfDescription,
         .calls = {download}},
        {.name = "pdf vanished before rendering",
         .destination = display,
         .pdf = PdfOnDisk::missing,
         .result = QStringLiteral("Display render failed: ") + invalidPdfDescription,
         .calls = {download}},
        // Both.
        {.name = "both delivered",
         .destination = both,
         .print = "queued\n",
         .sync = "accepted\n",
         .result = QStringLiteral(
             "Sent to print queue \u00B7 Uploaded to TRMNL \u00B7 awaiting screen refresh"),
         .calls = {download, print, sync}},
        {.name = "both already done",
         .destination = both,
         .print = "Already printed\n",
         .sync = "already_synced\n",
         .result = QStringLiteral("Already printed \u00B7 Display already synced"),
         .calls = {download, print, sync}},
        {.name = "print failure stops both",
         .destination = both,
         .print = "printer offline\n",
         .printStatus = 1,
         .result = QStringLiteral("Print stopped: printer offline"),
         .calls = {download, print}},
        {.name = "printed, then the upload fails",
         .destination = both,
         .print = "queued\n",
         .sync = "timeout\n",
         .syncStatus = 7,
         .result = QStringLiteral("Sent to print queue \u00B7 Display stopped: timeout"),
         .calls = {download, print, sync}},
        {.name = "printed, then the render fails",
         .destination = both,
         .print = "queued\n",
         .pdf = PdfOnDisk::notAPdf,
         .result = QStringLiteral("Sent to print queue \u00B7 Display render failed: ") +
                   invalidPdfDescription,
         .calls = {download, print}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        tool = std::make_unique<FakeCompanionTool>();
        placePdf(testCase.pdf);
        answerCheck(testCase.check, testCase.checkStatus);
        tool->answer(print, testCase.print, testCase.printStatus);
        tool->answer(sync, testCase.sync, testCase.syncStatus);
        auto run = settings(testCase.destination, testCase.delivery);
        run.automatic = testCase.automatic;

        EXPECT_EQ(performRun(run), testCase.result);
        EXPECT_EQ(tool->calls(), testCase.calls);
        const bool uploaded = testCase.calls.contains(sync);
        EXPECT_EQ(QFile::exists(displayFramePath(pdfPath())), uploaded);
    }
}

TEST_F(DeliveryRunTest, ToolCommandLinesAndEnvironments) {
    placePdf(PdfOnDisk::issue);
    answerCheck(readyIssue);
    auto run = settings(DeliveryDestination::both, true);
    ASSERT_EQ(performRun(run), QStringLiteral("Sent to print queue \u00B7 Uploaded to TRMNL "
                                              "\u00B7 awaiting screen refresh"));

    const QMap<QString, QString> service{{"QUILLO_URL", "https://news.example/"},
                                         {"QUILLO_PRINT_TOKEN", "key-123"}};
    EXPECT_EQ(tool->arguments(download), QStringList({"download", "--max-pages", "2"}));
    EXPECT_EQ(tool->environment(download), service);

    QFile pdf(pdfPath());
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_EQ(
        tool->arguments(print),
        QStringList({"print", "--printer", "Kitchen_Laser", "--max-pages", "2", "--expected-issue",
                     "issue-12", "--expected-sha256", sha256Hex(pdf.readAll())}));
    EXPECT_EQ(tool->environment(print), service);

    const QString frame = tool->cacheDirectory() + QStringLiteral("/issue-12.display.png");
    EXPECT_EQ(tool->arguments(sync), QStringList({"sync", "--image", frame, "--issue", "issue-12",
                                                  "--width", "1872", "--height", "1404"}));
    EXPECT_EQ(tool->environment(sync),
              (QMap<QString, QString>{{"QUILLO_EINK_WEBHOOK", "https://trmnl.example/hook/abc"}}));
    const QImage image(frame);
    EXPECT_EQ(image.size(), QSize(1872, 1404));
}

TEST_F(DeliveryRunTest, DisplayOnlyChecksUpToFourPages) {
    placePdf(PdfOnDisk::issue);
    answerCheck(readyIssue);
    for (const bool delivery : {false, true}) {
        auto run = settings(DeliveryDestination::display, delivery);
        run.pageCount = 1;
        run.displayModel = DisplayModel::og;
        performRun(run);
        EXPECT_EQ(tool->arguments(download), QStringList({"download", "--max-pages", "4"}));
    }
    EXPECT_EQ(tool->arguments(sync),
              QStringList({"sync", "--image", displayFramePath(pdfPath()), "--issue", "issue-12",
                           "--width", "800", "--height", "480"}));
}

TEST_F(DeliveryRunTest, MissingToolShowsTheStartError) {
    auto run = settings(DeliveryDestination::printer, true);
    run.toolPath = tool->installRoot() + QStringLiteral("/libexec/quillo/absent");
    EXPECT_EQ(performRun(run), QStringLiteral("Check failed: No such file or directory"));
}

TEST_F(DeliveryRunTest, HungToolStepIsStoppedAtTheTimeLimit) {
    const QString timedOut = QString(toolTimeoutMessage);
    placePdf(PdfOnDisk::issue);
    answerCheck(readyIssue);
    tool->hang(sync);
    EXPECT_EQ(performRun(settings(DeliveryDestination::both, true), 300ms),
              QStringLiteral("Sent to print queue \u00B7 Display stopped: ") + timedOut);

    tool->hang(download);
    EXPECT_EQ(performRun(settings(DeliveryDestination::both, true), 300ms),
              QStringLiteral("Check failed: ") + timedOut);
}

TEST(DisplayFramePath, ReplacesTheLastExtension) {
    EXPECT_EQ(displayFramePath(QStringLiteral("/feeds/a/issue-12.pdf")),
              QStringLiteral("/feeds/a/issue-12.display.png"));
    EXPECT_EQ(displayFramePath(QStringLiteral("/feeds/a.b/issue.v2.pdf")),
              QStringLiteral("/feeds/a.b/issue.v2.display.png"));
    EXPECT_EQ(displayFramePath(QStringLiteral("/feeds/a.b/issue")),
              QStringLiteral("/feeds/a.b/issue.display.png"));
}

} // namespace
} // namespace quillo
