#include "agent/IssueCache.h"

#include "agent/JsonMember.h"
#include "kit/FeedKey.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo {
namespace {

// The tool writes a few hundred bytes; anything much longer is not its file.
constexpr qint64 maximumPointerSize = qint64{64} * 1024;

// The pointer file lies in the tool's cache, read on the main thread: only a
// regular file is read, and a FIFO, a device or a link there is refused
// without blocking.
std::optional<QByteArray> readPointerFile(const QString& path) {
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
        return std::nullopt;
    }
    QFile file;
    struct stat status {};
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return std::nullopt;
    }
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    QByteArray bytes = file.read(maximumPointerSize + 1);
    if (bytes.size() > maximumPointerSize) {
        return std::nullopt;
    }
    return bytes;
}

} // namespace

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
    const auto pointer = readPointerFile(directory + QStringLiteral("/latest.json"));
    if (!pointer) {
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(*pointer);
    if (!document.isObject()) {
        return std::nullopt;
    }
    const auto pdfValue = stringMember(document.object(), QLatin1StringView("pdf"));
    if (!pdfValue) {
        return std::nullopt;
    }
    // Lexical only: ".", ".." and repeated separators go before the
    // comparison, so a pointer cannot climb out of the feed directory.
    const QString pdf = QDir::cleanPath(*pdfValue);
    if (!QDir::isAbsolutePath(pdf) || QFileInfo(pdf).path() != directory) {
        return std::nullopt;
    }
    // A regular file only: the menu hands it to a viewer and the renderer.
    if (!QFileInfo(pdf).isFile()) {
        return std::nullopt;
    }
    return pdf;
}

} // namespace quillo
