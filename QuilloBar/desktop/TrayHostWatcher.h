// Tells when a desktop shell starts showing tray items after the agent has
// started without any: a StatusNotifierWatcher appears on the session bus, or
// a host registers with the one there. Driven by bus signals only, no polling.
#pragma once

#include <QObject>

namespace quillo {

class TrayHostWatcher : public QObject {
    Q_OBJECT

public:
    // Watches from now on; a host present already is not reported.
    explicit TrayHostWatcher(QObject* parent = nullptr);

signals:
    void hostAppeared();

private:
    Q_SLOT void checkForHost();

    bool reported_ = false;
};

} // namespace quillo
