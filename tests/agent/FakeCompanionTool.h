// Stands in for the companion tool through its command-line contract: an
// executable script at libexec/quillo/quillo-print in a temporary install tree
// that records each call and answers with scripted output and exit status.
// The step is the first argument: "download", "print" or "sync".
#pragma once

#include "tests/support/FixturePdf.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

namespace quillo::testing {

class FakeCompanionTool {
public:
    FakeCompanionTool() {
        for (const char* folder : {"libexec/quillo", "state", "cache"}) {
            QDir(root_.path()).mkpath(QString::fromLatin1(folder));
        }
        writeProgram(toolPath(), script);
    }

    [[nodiscard]] QString installRoot() const { return root_.path(); }
    [[nodiscard]] QString toolPath() const {
        return root_.filePath(QStringLiteral("libexec/quillo/quillo-print"));
    }
    // Scratch space for issue PDFs, like the tool's cache.
    [[nodiscard]] QString cacheDirectory() const { return root_.filePath(QStringLiteral("cache")); }

    void answer(const QString& step, const QByteArray& output, int exitStatus = 0) const {
        writeFile(state(step + QStringLiteral(".out")), output);
        writeFile(state(step + QStringLiteral(".status")), QByteArray::number(exitStatus));
    }
    // The step waits for release() before answering.
    void hold(const QString& step) const { writeFile(state(step + QStringLiteral(".hold")), {}); }
    void release() const { writeFile(state(QStringLiteral("released")), {}); }

    // Steps in the order they were started; then the arguments, and the tool's
    // variables that were set, of the step's last call.
    [[nodiscard]] QStringList calls() const { return lines(QStringLiteral("calls")); }
    [[nodiscard]] QStringList arguments(const QString& step) const {
        return lines(step + QStringLiteral(".args"));
    }
    [[nodiscard]] QStringList environment(const QString& step) const {
        return lines(step + QStringLiteral(".env"));
    }

private:
    static constexpr const char* script = R"sh(#!/bin/sh
state="$(dirname "$0")/../../state"
step="$1"
printf '%s\n' "$@" >"$state/$step.args"
env | grep -E '^QUILLO_(URL|PRINT_TOKEN|EINK_WEBHOOK)=' | sort >"$state/$step.env"
printf '%s\n' "$step" >>"$state/calls"
[ -e "$state/$step.hold" ] && while [ ! -e "$state/released" ]; do sleep 0.02; done
[ -e "$state/$step.out" ] && cat "$state/$step.out"
exit "$(cat "$state/$step.status" 2>/dev/null || echo 0)"
)sh";

    [[nodiscard]] QString state(const QString& name) const {
        return root_.filePath(QStringLiteral("state/") + name);
    }

    [[nodiscard]] QStringList lines(const QString& name) const {
        QFile file(state(name));
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                   : QStringList();
    }

    QTemporaryDir root_;
};

} // namespace quillo::testing
