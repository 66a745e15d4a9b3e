// Answers and pointer files come from outside: a member of the wrong JSON
// type counts as absent, never as an empty or converted value.
#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>

namespace quillo {

inline std::optional<QString> stringMember(const QJsonObject& object, QLatin1StringView key) {
    const QJsonValue value = object.value(key);
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

} // namespace quillo
