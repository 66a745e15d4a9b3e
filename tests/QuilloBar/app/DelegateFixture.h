// The delegate's test fixture: a temporary install tree whose companion tool
// is a stand-in, a preferences file and a printer listing of its own, and the
// test session's keyring.
#pragma once

#include "QuilloBar/app/AppDelegate.h"
#include "agent/Command.h"
#include "store/Preferences.h"
#include "store/Vault.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>

// Failures show the texts rather than their bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace quillo {

const QString connect = QStringLiteral("Connect your newspaper in Settings");
const QString checking = QStringLiteral("Checking for a new issue\u2026");
const QString readyOff = QStringLiteral("Latest issue ready \u00B7 automatic delivery off");
const QString readyOn = QStringLiteral("Latest issue ready \u00B7 automatic delivery on");
const QString sent = QStringLiteral("Sent to print queue");
const QString download = QStringLiteral("download");
const QString hook = QStringLiteral("https://trmnl.example/hook");

// Stands in for the companion tool in a temporary install tree: records each
// call (the step is its first argument: download, print or sync) and its
// arguments, and answers with the output and exit
// status given for the step, after release() when the step is held.
class StandInTool {
public:
    StandInTool() {
        for (const char* folder : {"libexec/quillo", "state", "bin"}) {
            QDir(root.path()).mkpath(QString::fromLatin1(folder));
        }
        testing::writeProgram(root.filePath("libexec/quillo/quillo-print"), R"sh(#!/bin/sh
state="$(dirname "$0")/../../state"
printf '%s\n' "$@" >"$state/$1.args"
printf '%s\n' "$1" >>"$state/calls"
[ -e "$state/$1.hold" ] && while [ ! -e "$state/released" ]; do sleep 0.02; done
[ -e "$state/$1.out" ] && { read -r status; cat; } <"$state/$1.out"
exit "${status:-0}"
)sh");
    }
    // The exit status goes first, on a line of its own.
    void answer(const QString& step, const QByteArray& output, int exitStatus = 0) const {
        testing::writeFile(state(step + ".out"), QByteArray::number(exitStatus) + '\n' + output);
    }
    void hold(const QString& step) const { testing::writeFile(state(step + ".hold"), {}); }
    void release() const { testing::writeFile(state("released"), {}); }
    // "calls", or the step's last "<step>.args".
    [[nodiscard]] QStringList lines(const QString& name) const {
        return QString::fromUtf8(testing::readFile(state(name))).split(u'\n', Qt::SkipEmptyParts);
    }
    [[nodiscard]] QString state(const QString& name) const {
        return root.filePath("state/" + name);
    }

    QTemporaryDir root;
};

// A stored text (a secret, a printer), or none.
using Stored = std::optional<QString>;

// Replaces what the test session's keyring holds for the two accounts.
inline void storeSecrets(const Stored& token, const Stored& webhook) {
    testing::runProgram(QStringLiteral("secret-tool"),
                        {"clear", "service", QString::fromUtf8(vaultService.data())}, {});
    if (token) {
        Vault::save(*token, SecretAccount::deliveryKey);
    }
    if (webhook) {
        Vault::save(*webhook, SecretAccount::einkWebhook);
    }
}

class AppDelegateTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The built program, which draws the display frames and gives the
        // stand-in tree a fingerprint to authorize.
        QFile::link(testing::buildRoot() + "/bin/quillo-bar", tool.root.filePath("bin/quillo-bar"));
        testing::writeProgram(printerListing, "#!/bin/sh\necho 'printer Office is idle.'\n");
        testing::writeFile(pdf, testing::grayLetterPdf(255));
        tool.answer(download, R"({"issue":"issue-7","pdf":")" + pdf.toUtf8() + "\"}");
        makeDelegate();
    }

    void makeDelegate(const QStringList& arguments = {}) {
        delegate = std::make_unique<AppDelegate>(AppDelegate::Setup{
            tool.root.path().toStdString(), preferencesFile, arguments, stepTimeLimit,
            printerListing, preferences.filePath(QStringLiteral("autostart"))});
        statuses.clear();
        questions.clear();
        QObject::connect(delegate.get(), &AppDelegate::statusChanged,
                         [this](const QString& status) { statuses.append(status); });
        delegate->desktop = {[this](const QUrl& url) { opened.append(url.toString()); },
                             [this](const QString& program) { opened.append(program); },
                             [this](const QString& text, const QString& informativeText) {
                                 questions.append(text + u'|' + informativeText);
                                 return deliver;
                             }};
    }

    // Stored settings, written as another process would before a launch.
    template <typename Write> void store(Write write) const {
        Preferences stored(preferencesFile);
        write(stored);
        stored.sync();
    }

    // Launches as a reader who has seen the welcome, with the stored
    // authorization naming `build`, and waits for the launch's keyring read.
    void launch(const QString& build, bool automatic, const QStringList& arguments = {}) {
        store([&](Preferences& stored) {
            stored.setBoolean(PreferenceKey::didShowWelcome, true);
            stored.setString(PreferenceKey::authorizedBuild, build);
            stored.setBoolean(PreferenceKey::automatic, automatic);
        });
        makeDelegate(arguments);
        delegate->applicationDidFinishLaunching();
        settle();
    }

    // Stores the secrets and lets the delegate read them as at launch; the
    // check that read starts is over and forgotten on return.
    void holdSecrets(const Stored& key, const Stored& webhook) {
        storeSecrets(key, webhook);
        delegate->keyring().readSilently();
        settle();
        statuses.clear();
        QFile::remove(tool.state("calls"));
    }

    // Starts a run with the key and waits for its end.
    void run(bool delivery) const {
        delegate->runAgent(delivery);
        ASSERT_TRUE(QTest::qWaitFor([this] { return !delegate->running(); }, 20000));
    }

    // Waits until every run, keyring read and render has come back.
    void settle() const {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !delegate->hasWorkInFlight(); }, 20000));
    }

    [[nodiscard]] Preferences& defaults() const { return delegate->defaults(); }

    StandInTool tool;
    std::chrono::milliseconds stepTimeLimit = toolStepTimeLimit;
    QTemporaryDir preferences;
    QString preferencesFile = preferences.filePath(QStringLiteral("p.ini"));
    QString printerListing = preferences.filePath(QStringLiteral("lpstat"));
    QString pdf = preferences.filePath(QStringLiteral("issue-7.pdf"));
    std::unique_ptr<AppDelegate> delegate;
    QStringList statuses;
    QStringList opened;
    QStringList questions;
    bool deliver = false;
};

} // namespace quillo
