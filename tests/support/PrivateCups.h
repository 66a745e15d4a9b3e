// A private cupsd with one file queue (private_cups.py), started for a test
// and stopped by its pid when the object goes. CUPS_SERVER=server() reaches it.
#pragma once

#include <QStringList>
#include <QTemporaryDir>

namespace quillo::testing {

class PrivateCups {
public:
    PrivateCups();
    ~PrivateCups();
    PrivateCups(const PrivateCups&) = delete;
    PrivateCups& operator=(const PrivateCups&) = delete;

    [[nodiscard]] bool ready() const { return !server_.isEmpty(); }
    [[nodiscard]] const QString& server() const { return server_; }
    // Its configuration, spool, logs and the file device's output.
    [[nodiscard]] QString directory() const { return directory_.path(); }
    static QString queue() { return QStringLiteral("Quillo"); }
    // "title<TAB>options" of each job its filter ran, waiting until `count`
    // arrived or ten seconds passed, and then until no job is left to run.
    [[nodiscard]] QStringList filteredJobs(qsizetype count) const;
    // What the queue's file device received last.
    [[nodiscard]] QByteArray printed() const;
    // SIGSTOP/SIGCONT: a scheduler that takes connections but answers nothing.
    void freeze(bool frozen) const;

private:
    QTemporaryDir directory_;
    QString server_;
};

} // namespace quillo::testing
