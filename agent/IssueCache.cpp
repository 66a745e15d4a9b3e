#include "agent/IssueCache.h"

#include "kit/FeedKey.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace quillo {
QString feedKey(const QString& origin, const QString& deliveryKey) {
    return QString::fromStdString(
        feedKey(origin.toUtf8().toStdString(), deliveryKey.toUtf8().toStdString()));
}

QString feedDirectory(const QString& home, const QString& origin, const QString& deliveryKey) {
    return home + QStringLiteral("/.config/quillo/feeds/") + feedKey(origin, deliveryKey);
}

std::optional<QString> cachedIssuePdf(const QString& home, const QString& origin,
                                      const std::optional<QString>& deliveryKey) {
    if (!deliveryKey) {
        return std::nullopt;
    }
    const QString directory = QDir::cleanPath(feedDirectory(home, origin, *deliveryKey));
    QFile pointer(directory + QStringLiteral("/latest.json"));
    if (!pointer.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(pointer.readAll());
    if (!document.isObject()) {
        return std::nullopt;
    }
    const QJsonValue pdfValue = document.object().value(QLatin1StringView("pdf"));
    if (!pdfValue.isString()) {
        return std::nullopt;
    }
    // Lexical only: ".", ".." and repeated separators go before the
    // comparison, so a pointer cannot climb out of the feed directory.
    const QString pdf = QDir::cleanPath(pdfValue.toString());
    if (!QDir::isAbsolutePath(pdf) || QFileInfo(pdf).path() != directory) {
        return std::nullopt;
    }
    if (!QFileInfo::exists(pdf)) {
        return std::nullopt;
    }
    return pdf;
}

} // namespace quillo
