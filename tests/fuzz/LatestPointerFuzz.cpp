// The input is the feed's latest.json, with "@FEED@" standing for the feed
// folder, which holds an issue, a folder with an issue of its own and a FIFO.
#include "agent/IssueCache.h"
#include "tests/fuzz/FuzzTarget.h"

#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>

void quillo::fuzz::testOne(std::string_view input) {
    const QString home = QString::fromStdString(scratchFolder());
    const QString origin = QStringLiteral("https://news.example/");
    static const QString feed = QDir::cleanPath(feedDirectory(home, origin, "fuzz-key"));
    static const std::string folder = feed.toStdString();
    if (!std::filesystem::exists(folder)) {
        std::filesystem::create_directories(folder + "/nested");
        scratchFile(folder + "/issue-12.pdf", "%PDF-1.4\n");
        scratchFile(folder + "/nested/issue-12.pdf", "%PDF-1.4\n");
        ::mkfifo((folder + "/pipe.pdf").c_str(), 0600);
    }
    QByteArray pointer = QByteArrayView(input).toByteArray();
    scratchFile(folder + "/latest.json", pointer.replace("@FEED@", feed.toUtf8()).toStdString());
    const auto pdf = cachedIssuePdf(home, origin, "fuzz-key");
    if (pdf) {
        require(QFileInfo(*pdf).path() == feed && QFileInfo(*pdf).isFile(),
                "only a regular file directly in the feed folder is offered");
    }
}
