// Stands in for the companion tool through its command-line contract: an
// executable script at libexec/quillo/quillo-print in a temporary install tree
// that records each call and answers with scripted output and exit status.
// The step is the first argument: "download", "print" or "sync".
#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace quillo::testing {

class FakeCompanionTool {
public:
    FakeCompanionTool() {
        QDir(root_.path()).mkpath(QStringLiteral("libexec/quillo"));
        QDir(root_.path()).mkpath(QStringLiteral("state"));
        QDir(root_.path()).mkpath(QStringLiteral("cache"));
        write(toolPath(), script);
        QFile::setPermissions(toolPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    [[nodiscard]] QString installRoot() const { return root_.path(); }
    [[nodiscard]] QString toolPath() const {
        return root_.filePath(QStringLiteral("libexec/quillo/quillo-print"));
    }
    // Scratch space for issue PDFs, like the tool's cache.
    [[nodiscard]] QString cacheDirectory() const { return root_.filePath(QStringLiteral("cache")); }

    void answer(const QString& step, const QByteArray& output, int exitStatus = 0) const {
        write(state(step + QStringLiteral(".out")), output);
        write(state(step + QStringLiteral(".status")), QByteArray::number(exitStatus));
    }
    // The step sleeps for a minute before answering.
    void hang(const QString& step) const { write(state(step + QStringLiteral(".hang")), {}); }
    // The step waits for release() before answering.
    void hold(const QString& step) const { write(state(step + QStringLiteral(".hold")), {}); }
    void release() const { write(state(QStringLiteral("released")), {}); }

    // Steps in the order they were started.
    [[nodiscard]] QStringList calls() const { return lines(state(QStringLiteral("calls"))); }
    // The arguments, and the tool's variables that were set, of the step's last call.
    [[nodiscard]] QStringList arguments(const QString& step) const {
        return lines(state(step + QStringLiteral(".args")));
    }
    [[nodiscard]] QStringList environment(const QString& step) const {
        return lines(state(step + QStringLiteral(".env")));
    }

private:
    static constexpr const char* script = R"sh(#!/bin/sh
state="$(dirname "$0")/../../state"
step="$1"
: >"$state/$step.args"
for argument in "$@"; do printf '%s\n' "$argument" >>"$state/$step.args"; done
env | grep -E '^QUILLO_(URL|PRINT_TOKEN|EINK_WEBHOOK)=' | sort >"$state/$step.env"
printf '%s\n' "$step" >>"$state/calls"
[ -e "$state/$step.hang" ] && sleep 60
[ -e "$state/$step.hold" ] && while [ ! -e "$state/released" ]; do sleep 0.02; done
[ -e "$state/$step.out" ] && cat "$state/$step.out"
exit "$(cat "$state/$step.status" 2>/dev/null || echo 0)"
)sh";

    [[nodiscard]] QString state(const QString& name) const {
        return root_.filePath(QStringLiteral("state/") + name);
    }

    static void write(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
        file.write(bytes);
    }

    static QStringList lines(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QTemporaryDir root_;
};

} // namespace quillo::testing
