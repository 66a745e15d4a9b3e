#include "QuilloBar/UserText.h"

#include <gtest/gtest.h>

namespace quillo {
namespace {

TEST(UserText, CountsAndCutsWholeUserPerceivedCharacters) {
    // e + combining acute, a flag of two regional indicators, a family joined
    // with zero-width joiners: one character each.
    const QString accent = QStringLiteral("e\u0301");
    const QString flag = QStringLiteral("\U0001F1FA\U0001F1F8");
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467");
    const QString text = accent + flag + family + QStringLiteral("z");

    EXPECT_EQ(characterCount(text), 4);
    EXPECT_EQ(characterCount(QString()), 0);
    EXPECT_EQ(leadingCharacters(text, 1), accent);
    EXPECT_EQ(leadingCharacters(text, 2), accent + flag);
    EXPECT_EQ(leadingCharacters(text, 3), accent + flag + family);
    EXPECT_EQ(leadingCharacters(text, 4), text);
    EXPECT_EQ(leadingCharacters(text, 400), text);
    EXPECT_EQ(leadingCharacters(text, 0), QString());
}

} // namespace
} // namespace quillo
