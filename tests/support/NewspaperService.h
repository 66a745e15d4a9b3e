// The local newspaper service and TRMNL-like webhook (newspaper_service.py),
// started for a test and stopped by its pid when the object goes.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QTemporaryDir>

namespace quillo::testing {

inline const QString latestPath = QStringLiteral("/api/v1/delivery/latest");

class NewspaperService {
public:
    NewspaperService();
    ~NewspaperService();
    NewspaperService(const NewspaperService&) = delete;
    NewspaperService& operator=(const NewspaperService&) = delete;

    [[nodiscard]] bool ready() const { return port_ != 0; }
    // https://127.0.0.1:<port>
    [[nodiscard]] QString origin() const;
    [[nodiscard]] QString caBundle() const { return directory_.filePath(QStringLiteral("ca.pem")); }
    // Replaces the script (its keys: see newspaper_service.py) and forgets
    // the requests so far and an earlier release.
    void script(const QJsonObject& script);
    // The routes that serve `pdf` as the latest issue `id` of `pages` pages:
    // the service's ready answer, and the PDF from a file beside the service's.
    [[nodiscard]] QJsonObject issueRoutes(const QString& id, const QByteArray& pdf,
                                          int pages) const;
    // Stalled answers go on, and nothing stalls any more.
    void release();
    [[nodiscard]] QList<QJsonObject> requests() const;
    // The body of request number `index` (0-based, as in requests()).
    [[nodiscard]] QByteArray body(qsizetype index) const;

private:
    QTemporaryDir directory_;
    QProcess process_;
    int port_ = 0;
};

} // namespace quillo::testing
