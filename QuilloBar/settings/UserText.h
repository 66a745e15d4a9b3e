// Lengths of text the reader sees count user-perceived characters (grapheme
// clusters), so a limit never splits an accent from its letter or a flag in two.
#pragma once

#include <QString>

namespace quillo {

qsizetype characterCount(const QString& text);

// The first `count` user-perceived characters; shorter text is returned whole.
QString leadingCharacters(const QString& text, qsizetype count);

} // namespace quillo
