#include "tests/support/NewspaperService.h"

#include "tests/support/FixturePdf.h"

#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>
#include <QThread>

namespace quillo::testing {

NewspaperService::NewspaperService() {
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral(QUILLO_SOURCE_ROOT "/tests/support/newspaper_service.py"),
                    directory_.path()});
    // The service renames the port file into place once it listens.
    for (int attempt = 0; attempt < 200 && port_ == 0 && process_.state() != QProcess::NotRunning;
         ++attempt) {
        QThread::msleep(25);
        port_ = readFile(directory_.filePath(QStringLiteral("port"))).trimmed().toInt();
    }
}

NewspaperService::~NewspaperService() {
    process_.kill();
    process_.waitForFinished();
}

QString NewspaperService::origin() const {
    return QStringLiteral("https://127.0.0.1:%1").arg(port_);
}

QJsonObject NewspaperService::issueRoutes(const QString& id, const QByteArray& pdf,
                                          int pages) const {
    const QString file = directory_.filePath(QStringLiteral("issue-") + id);
    writeFile(file, pdf);
    const QString path = QStringLiteral("/api/v1/delivery/issues/%1.pdf").arg(id);
    const QJsonObject ready{{"state", "ready"},
                            {"issue", id},
                            {"pdf", path},
                            {"sha256", sha256(pdf)},
                            {"pages", pages}};
    return {{latestPath, QJsonObject{{"json", ready}}}, {path, QJsonObject{{"file", file}}}};
}

void NewspaperService::release() {
    QFile(directory_.filePath(QStringLiteral("released"))).open(QIODevice::WriteOnly);
}

void NewspaperService::script(const QJsonObject& script) {
    QFile::remove(directory_.filePath(QStringLiteral("released")));
    QSaveFile file(directory_.filePath(QStringLiteral("script.json")));
    file.open(QIODevice::WriteOnly);
    file.write(QJsonDocument(script).toJson());
    file.commit();
    QFile::remove(directory_.filePath(QStringLiteral("requests.jsonl")));
}

QList<QJsonObject> NewspaperService::requests() const {
    QList<QJsonObject> requests;
    for (const QByteArray& line : readFile(directory_.filePath("requests.jsonl")).split('\n')) {
        if (!line.isEmpty()) {
            requests.append(QJsonDocument::fromJson(line).object());
        }
    }
    return requests;
}

QByteArray NewspaperService::body(qsizetype index) const {
    return readFile(directory_.filePath(QStringLiteral("bodies/%1").arg(index)));
}

} // namespace quillo::testing
