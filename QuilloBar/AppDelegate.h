#pragma once

#include <QObject>

namespace quillo {

// The hub of the tray application: owns all mutable state, on the main thread.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(QObject* parent = nullptr);
};

} // namespace quillo
