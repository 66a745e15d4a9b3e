// Stands in for the companion tool through its command-line contract: an
// executable script at libexec/quillo/quillo-print in a temporary install tree
// that records each call and answers with scripted output and exit status.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

namespace quillo::testing {

class FakeCompanionTool {
public:
    FakeCompanionTool();

    [[nodiscard]] QString installRoot() const { return root_.path(); }
    [[nodiscard]] QString toolPath() const;
    // A scratch directory for issue PDFs, like the tool's cache.
    [[nodiscard]] QString cacheDirectory() const;

    // The step is the first argument: "download", "print" or "sync".
    void answer(const QString& step, const QByteArray& output, int exitStatus = 0) const;
    // The step sleeps for a minute before answering.
    void hang(const QString& step) const;
    // The step waits until release() is called.
    void holdUntilReleased(const QString& step) const;
    void release() const;
    [[nodiscard]] bool started(const QString& step) const;

    // Steps in the order they were run.
    [[nodiscard]] QStringList calls() const;
    // Arguments of the step's last call.
    [[nodiscard]] QStringList arguments(const QString& step) const;
    // The tool's variables as the step's last call saw them; unset ones are absent.
    [[nodiscard]] QMap<QString, QString> environment(const QString& step) const;

private:
    [[nodiscard]] QString file(const QString& name) const;

    QTemporaryDir root_;
};

} // namespace quillo::testing
