#include "agent/DeliveryRun.h"
#include "tests/support/FixturePdf.h"

#include <QTemporaryDir>
#include <chrono>
#include <gtest/gtest.h>
#include <vector>

namespace quillo {
namespace {

using namespace std::chrono_literals;

// The frame is drawn by render mode in a child, here a stand-in that shows
// what it was handed. Its failure line, a crash or a hang each end as a
// DisplayError text; the child gets the request on its standard input and no
// key.
TEST(RenderDisplayFrame, RenderModeInAChildWithoutSecretsAndItsFailuresAsLines) {
    const QTemporaryDir directory;
    const QString pdf = directory.filePath(QStringLiteral("issue.pdf"));
    const QString frame = directory.filePath(QStringLiteral("issue.display.png"));
    const QString standIn = directory.filePath(QStringLiteral("renderer"));
    const QString notDrawn = QStringLiteral("Could not render this display frame.");
    const QString request = R"({"model":"x","output":")" + frame + R"(","pdf":")" + pdf + "\"}";
    qputenv("QUILLO_PRINT_TOKEN", "key-of-the-agent");
    // The stand-in's script, the failure.
    const std::vector<std::pair<QByteArray, QString>> rows{
        {"printf 'Could not render display frame: %s' \"$QUILLO_PRINT_TOKEN\"; cat; exit 1",
         request},
        {"kill -SEGV $$", notDrawn},
        {"echo 'Could not render display frame: late'; exec sleep 60", notDrawn},
    };
    for (const auto& [script, failure] : rows) {
        SCOPED_TRACE(script.toStdString());
        testing::writeProgram(standIn, "#!/bin/sh\n" + script + "\n");
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(renderDisplayFrame(standIn, pdf, frame, DisplayModel::x, 3s), failure);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    }
    qunsetenv("QUILLO_PRINT_TOKEN");
}

} // namespace
} // namespace quillo
