// A private cupsd with one file queue (private_cups.py), started for a test
// and stopped by its pid when the object goes. CUPS_SERVER=server() reaches it
// through a relay that can hold one exchange back.
#pragma once

#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

namespace quillo::testing {

class PrivateCups {
public:
    // With `cupsPdf`, also a queue pdfQueue() of the real cups-pdf driver on
    // A4; only root can start it (ready() is false otherwise).
    explicit PrivateCups(bool cupsPdf = false);
    ~PrivateCups();
    PrivateCups(const PrivateCups&) = delete;
    PrivateCups& operator=(const PrivateCups&) = delete;

    [[nodiscard]] bool ready() const { return !server_.isEmpty(); }
    [[nodiscard]] const QString& server() const { return server_; }
    // Its configuration, spool, logs and the file device's output.
    [[nodiscard]] QString directory() const { return directory_.path(); }
    static QString queue() { return QStringLiteral("Quillo"); }
    static QString pdfQueue() { return QStringLiteral("QuilloPDF"); }
    // The newest file cups-pdf wrote, once its job ended.
    [[nodiscard]] QByteArray pdfOutput() const;
    // "title<TAB>options" of each job its filter ran, waiting until `count`
    // arrived or ten seconds passed, and then until no job is left to run.
    [[nodiscard]] QStringList filteredJobs(qsizetype count) const;
    // How many of those jobs print issue `id`, once none is left to run.
    [[nodiscard]] qsizetype jobsOf(const QString& id) const {
        return filteredJobs(0).filter(QRegularExpression("^Quillo " + id + "\t")).size();
    }
    // What the queue's file device received last.
    [[nodiscard]] QByteArray printed() const;
    // SIGSTOP/SIGCONT: a scheduler that takes connections but answers nothing.
    void freeze(bool frozen) const;
    // kill -9 of cupsd, then cupsd started again on the same folder; what
    // it had not written down is lost, as after a crash.
    void crash() const;
    // Holds back "OPERATION request" or "OPERATION reply" (an IPP operation's
    // name) until called with nothing; stalled() tells when it held one.
    void stall(const QString& exchange) const;
    [[nodiscard]] bool stalled() const;

private:
    QTemporaryDir directory_;
    QString server_;
};

} // namespace quillo::testing
