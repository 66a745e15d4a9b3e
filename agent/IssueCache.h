// Finds the newest validated issue that the companion tool has cached, without
// running the tool. Read-only: never creates, changes or deletes a file.
#pragma once

#include <QString>
#include <optional>

namespace quillo {

// Lowercase hex SHA-256 of the origin (without leading and trailing "/"), a
// line feed and the delivery key: one cache directory per origin and key,
// and the key never appears in a path.
QString feedKey(const QString& origin, const QString& deliveryKey);

// <home>/.config/quillo/feeds/<feed key>
QString feedDirectory(const QString& home, const QString& origin, const QString& deliveryKey);

// The normalised path of the PDF named by the feed's "latest.json", when it
// lies directly in the feed directory and is a regular file; nothing without
// a delivery key or on any other failure. Never blocks on what it finds there.
std::optional<QString> cachedIssuePdf(const QString& home, const QString& origin,
                                      const std::optional<QString>& deliveryKey);

} // namespace quillo
