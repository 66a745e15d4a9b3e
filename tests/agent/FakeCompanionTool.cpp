#include "tests/agent/FakeCompanionTool.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace quillo::testing {
namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

QStringList lines(const QByteArray& bytes) {
    QStringList result = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    if (!result.isEmpty() && result.last().isEmpty()) {
        result.removeLast();
    }
    return result;
}

const char* const script = R"sh(#!/bin/sh
state="$(dirname "$0")/../../state"
step="$1"
printf '%s\n' "$step" >>"$state/calls"
: >"$state/$step.args"
for argument in "$@"; do printf '%s\n' "$argument" >>"$state/$step.args"; done
{
    [ -n "${QUILLO_URL+set}" ] && printf 'QUILLO_URL=%s\n' "$QUILLO_URL"
    [ -n "${QUILLO_PRINT_TOKEN+set}" ] && printf 'QUILLO_PRINT_TOKEN=%s\n' "$QUILLO_PRINT_TOKEN"
    [ -n "${QUILLO_EINK_WEBHOOK+set}" ] && printf 'QUILLO_EINK_WEBHOOK=%s\n' "$QUILLO_EINK_WEBHOOK"
} >"$state/$step.env"
: >"$state/$step.started"
[ -e "$state/$step.hang" ] && sleep 60
if [ -e "$state/$step.hold" ]; then
    while [ ! -e "$state/released" ]; do sleep 0.02; done
fi
[ -e "$state/$step.out" ] && cat "$state/$step.out"
exit "$(cat "$state/$step.status" 2>/dev/null || echo 0)"
)sh";

} // namespace

FakeCompanionTool::FakeCompanionTool() {
    EXPECT_TRUE(root_.isValid());
    QDir root(root_.path());
    EXPECT_TRUE(root.mkpath(QStringLiteral("libexec/quillo")));
    EXPECT_TRUE(root.mkpath(QStringLiteral("state")));
    EXPECT_TRUE(root.mkpath(QStringLiteral("cache")));
    write(toolPath(), script);
    QFile::setPermissions(toolPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString FakeCompanionTool::toolPath() const {
    return root_.filePath(QStringLiteral("libexec/quillo/quillo-print"));
}

QString FakeCompanionTool::cacheDirectory() const {
    return root_.filePath(QStringLiteral("cache"));
}

QString FakeCompanionTool::file(const QString& name) const {
    return root_.filePath(QStringLiteral("state/") + name);
}

void FakeCompanionTool::answer(const QString& step, const QByteArray& output,
                               int exitStatus) const {
    write(file(step + QStringLiteral(".out")), output);
    write(file(step + QStringLiteral(".status")), QByteArray::number(exitStatus));
}

void FakeCompanionTool::hang(const QString& step) const {
    write(file(step + QStringLiteral(".hang")), {});
}

void FakeCompanionTool::holdUntilReleased(const QString& step) const {
    write(file(step + QStringLiteral(".hold")), {});
}

void FakeCompanionTool::release() const {
    write(file(QStringLiteral("released")), {});
}

bool FakeCompanionTool::started(const QString& step) const {
    return QFile::exists(file(step + QStringLiteral(".started")));
}

QStringList FakeCompanionTool::calls() const {
    return lines(readAll(file(QStringLiteral("calls"))));
}

QStringList FakeCompanionTool::arguments(const QString& step) const {
    return lines(readAll(file(step + QStringLiteral(".args"))));
}

QMap<QString, QString> FakeCompanionTool::environment(const QString& step) const {
    QMap<QString, QString> variables;
    for (const QString& line : lines(readAll(file(step + QStringLiteral(".env"))))) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        variables.insert(line.left(equals), line.mid(equals + 1));
    }
    return variables;
}

} // namespace quillo::testing
