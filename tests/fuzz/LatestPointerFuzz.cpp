// The input is the feed's latest.json, with "@FEED@" standing for the feed
// folder, which holds an issue, a folder and a FIFO.
#include "agent/IssueCache.h"
#include "tests/fuzz/FuzzTarget.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

const QString origin = QStringLiteral("https://news.example/");
const QString key = QStringLiteral("fuzz-key");

struct Feed {
    quillo::fuzz::ScratchFolder home;
    QString homePath = QString::fromStdString(home.path().string());
    QString folder = QDir::cleanPath(quillo::feedDirectory(homePath, origin, key));

    Feed() {
        QDir().mkpath(folder + QStringLiteral("/nested"));
        QFile issue(folder + QStringLiteral("/issue-12.pdf"));
        quillo::fuzz::require(issue.open(QIODevice::WriteOnly), "the issue can be written");
        issue.write("%PDF-1.4\n");
        ::mkfifo(QFile::encodeName(folder + QStringLiteral("/pipe.pdf")).constData(), 0600);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Feed feed;
    QByteArray pointer(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    pointer.replace("@FEED@", feed.folder.toUtf8());
    QFile file(feed.folder + QStringLiteral("/latest.json"));
    quillo::fuzz::require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                              file.write(pointer) == pointer.size(),
                          "the pointer file can be written");
    file.close();

    const auto pdf = quillo::cachedIssuePdf(feed.homePath, origin, key);
    if (pdf) {
        quillo::fuzz::require(QFileInfo(*pdf).path() == feed.folder && QFileInfo(*pdf).isFile(),
                              "only a regular file directly in the feed folder is offered");
    }
    return 0;
}
