#include "companion/Records.h"

#include "tests/support/FixturePdf.h"

#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

namespace quillo {
namespace {

using State = companion::PrintRecord::State;

// Lines no version writes read as printed, never printed twice on a doubt;
// the 500 newest issues are kept, the oldest going first; an upload record of
// an earlier version moves under the new name unless one stands there.
TEST(Records, UnreadableLinesTheTrimAtItsEdgeAndMovedUploads) {
    QTemporaryDir state;
    ASSERT_EQ(::setenv("XDG_STATE_HOME", state.path().toUtf8().constData(), 1), 0);
    companion::Records records;
    const QString folder = state.filePath("quillo/");

    testing::writeFile(folder + "printed/service", "a held\nb frobbed 3\nc sent 0\nd sent 3 4\n"
                                                   "e creating 0\nf withdrawn 0\ng sent 7\n");
    const State states[] = {State::printed,  State::printed,   State::printed,   State::printed,
                            State::creating, State::withdrawn, State::releasing, State::none};
    for (const char issue : std::string_view("abcdefgh")) {
        EXPECT_EQ(records.printRecord("service", {issue})->state, states[issue - 'a']) << issue;
    }

    QByteArray earlier;
    for (int issue = 1; issue < 500; ++issue) {
        earlier += "issue-" + QByteArray::number(issue) + "\n";
    }
    testing::writeFile(folder + "printed/trim", earlier);
    const std::tuple<const char*, const char*, State> trims[] = {
        {"issue-500", "issue-1", State::printed},
        {"issue-501", "issue-1", State::none},
    };
    for (const auto& [added, oldest, expected] : trims) {
        ASSERT_FALSE(records.setPrintRecord("trim", added, {State::printed}));
        EXPECT_EQ(records.printRecord("trim", oldest)->state, expected) << added;
    }

    const std::tuple<QByteArray, QByteArray, const char*> uploads[] = {
        {"issue-3\nsha-3\n", "", "issue-3"},
        {"issue-3\nsha-3\n", "issue-4\nsha-4\n", "issue-4"},
    };
    for (const auto& [legacy, current, stands] : uploads) {
        testing::writeFile(folder + "uploads/legacy", legacy);
        QFile::remove(folder + "uploads/current");
        if (!current.isEmpty()) {
            testing::writeFile(folder + "uploads/current", current);
        }
        ASSERT_FALSE(records.moveUploadForward("legacy", "current"));
        EXPECT_TRUE(records.uploaded("current", stands, std::string("sha-") + stands[6]));
        EXPECT_FALSE(QFile::exists(folder + "uploads/legacy"));
    }
}

} // namespace
} // namespace quillo
