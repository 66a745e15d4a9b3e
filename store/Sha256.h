#pragma once

#include <QByteArrayView>
#include <QString>

namespace quillo {

// Lowercase hexadecimal SHA-256: two digits per byte, no separators.
QString sha256Hex(QByteArrayView bytes);

} // namespace quillo
