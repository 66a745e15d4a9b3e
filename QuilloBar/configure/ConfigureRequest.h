// The configuration request as configure mode reads it from standard input.
#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <optional>

namespace quillo {

struct ConfigureRequest {
    QString deliveryKey; // never empty, from "token"
    // Stored as given; undefined (absent) or null removes the stored value.
    QJsonValue origin;
    QJsonValue printer;
};

// Nothing unless the input is a JSON object whose "token" is a non-empty string.
std::optional<ConfigureRequest> readConfigureRequest(const QByteArray& input);

} // namespace quillo
