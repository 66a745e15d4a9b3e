// A month of the agent's five-minute checks in fast motion, in one process:
// the tray application's delegate runs each check with automatic delivery on
// as soon as the last one ended, through the build's real companion tool and
// renderer, against the local newspaper service, which publishes a new issue
// once a day. Every 1,000 checks it prints its resident memory, open
// descriptors, threads and child processes. bench/soak.sh starts it on a
// throw-away profile with the service and a private CUPS.
//
//   soak-agent PROFILE SERVICE-DIR ISSUE-PDF CHECKS CHECKS-PER-DAY
#include "QuilloBar/app/AppDelegate.h"
#include "store/Preferences.h"
#include "store/Vault.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QUuid>
#include <cstdio>
#include <unistd.h>

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

// The driver writes preferences and cache files: only ever inside the
// throw-away profile that soak.sh made, never the reader's own.
bool insideProfile(const QString& profile) {
    if (!QFileInfo(profile).fileName().startsWith(QStringLiteral("quillo-soak."))) {
        return false;
    }
    for (const char* name :
         {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"}) {
        if (!qEnvironmentVariable(name).startsWith(profile + u'/')) {
            return false;
        }
    }
    return true;
}

qint64 statusField(const QByteArray& status, const QByteArray& field) {
    for (const QByteArray& line : status.split('\n')) {
        if (line.startsWith(field + ':')) {
            return line.mid(field.size() + 1).simplified().split(' ').value(0).toLongLong();
        }
    }
    return -1;
}

// Children of this process, and how many of them are zombies.
std::pair<int, int> children() {
    const QByteArray self = QByteArray::number(::getpid());
    int all = 0;
    int zombies = 0;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const QByteArray stat = readAll("/proc/" + pid + "/stat");
        // pid (comm) state ppid ...
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1) == self) {
            ++all;
            zombies += fields.at(0) == "Z" ? 1 : 0;
        }
    }
    return {all, zombies};
}

void printReading(int check) {
    const QByteArray status = readAll(QStringLiteral("/proc/self/status"));
    const auto [all, zombies] = children();
    const auto descriptors =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
    std::printf("check %5d  RSS %6lld KiB  descriptors %3lld  threads %2lld  children %d "
                "(zombies %d)\n",
                check, statusField(status, "VmRSS"), static_cast<long long>(descriptors),
                statusField(status, "Threads"), all, zombies);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 6 || !insideProfile(arguments.at(1))) {
        std::fputs("usage: soak-agent PROFILE SERVICE-DIR ISSUE-PDF CHECKS CHECKS-PER-DAY, "
                   "with HOME and the XDG folders inside PROFILE (bench/soak.sh)\n",
                   stderr);
        return 2;
    }
    const QString& service = arguments.at(2);
    const QByteArray issue = readAll(arguments.at(3));
    const int checks = arguments.at(4).toInt();
    const int perDay = std::max(1, arguments.at(5).toInt());
    const QString origin = "https://127.0.0.1:" + readAll(service + "/port").trimmed();
    const QString token =
        QStringLiteral("soak-%1").arg(QRandomGenerator::system()->generate64(), 16, 16);

    quillo::Preferences stored;
    stored.setString(quillo::PreferenceKey::origin, origin);
    stored.setString(quillo::PreferenceKey::destination, QStringLiteral("both"));
    stored.setString(quillo::PreferenceKey::printer, QStringLiteral("Quillo"));
    stored.setString(quillo::PreferenceKey::displayModel, QStringLiteral("og"));
    stored.setInteger(quillo::PreferenceKey::maxPages, 2);
    stored.setBoolean(quillo::PreferenceKey::automatic, true);
    stored.setBoolean(quillo::PreferenceKey::didShowWelcome, true);
    stored.sync();

    // The tree this driver lies in (bench/ of a build), so a copy of a build
    // soaks while the original is rebuilt.
    const QString root = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    quillo::AppDelegate delegate(
        quillo::AppDelegate::Setup{QDir(root).canonicalPath().toStdString(), {}, {}});
    // The profile's own keyring (soak.sh starts it) holds the secrets; the
    // agent reads them as it does at launch.
    try {
        quillo::Vault::save(token, quillo::SecretAccount::deliveryKey);
        quillo::Vault::save(origin + "/api/plugin_settings/" +
                                QUuid::createUuid().toString(QUuid::WithoutBraces) + "/image",
                            quillo::SecretAccount::einkWebhook);
    } catch (const quillo::VaultError& error) {
        std::fprintf(stderr, "soak-agent: %s\n", error.what());
        return 1;
    }

    // Each day's issue differs by a comment after its end, so every day has
    // a file, a print and a frame of its own.
    const auto publish = [&](int day) {
        const QString id = QDate(2026, 11, 7).addDays(day).toString(Qt::ISODate);
        const QString file = service + "/issue.pdf";
        writeAll(file, issue + "\n% " + id.toUtf8() + "\n");
        const QJsonObject script{{"token", token},
                                 {"issue", QJsonObject{{"id", id}, {"file", file}, {"pages", 2}}}};
        writeAll(service + "/script.json", QJsonDocument(script).toJson());
        QFile::remove(service + "/requests.jsonl");
    };
    QMap<QString, int> lines;
    int done = 0;
    const auto next = [&] {
        if (done % perDay == 0) {
            publish(done / perDay);
        }
        delegate.runAgent(delegate.defaults().boolean(quillo::PreferenceKey::automatic));
    };
    QObject::connect(&delegate, &quillo::AppDelegate::statusChanged, [&](const QString& line) {
        if (delegate.running()) {
            return;
        }
        ++lines[line];
        ++done;
        if (done % 1000 == 0 || done == checks) {
            printReading(done);
        }
        if (done == checks) {
            QMetaObject::invokeMethod(qApp, &QApplication::quit, Qt::QueuedConnection);
        } else {
            QMetaObject::invokeMethod(qApp, next, Qt::QueuedConnection);
        }
    });
    // The launch check is left out: the first check is the soak's own.
    quillo::Keyring& keyring = delegate.keyring();
    QObject::disconnect(&keyring, &quillo::Keyring::readFinished, &delegate, nullptr);
    QObject::connect(&keyring, &quillo::Keyring::readFinished, [&] {
        if (!keyring.deliveryKey()) {
            std::fputs("soak-agent: the keyring gave no key back\n", stderr);
            QApplication::exit(1);
            return;
        }
        next();
    });
    keyring.readSilently();
    QApplication::exec();
    for (auto it = lines.cbegin(); it != lines.cend(); ++it) {
        std::printf("%6d  %s\n", it.value(), it.key().toUtf8().constData());
    }
    return lines.size() == 2 ? 0 : 1;
}
