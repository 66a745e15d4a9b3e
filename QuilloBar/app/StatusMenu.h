// The tray's menu, built from a small value. It knows nothing of the delegate:
// it shows what it is given and says which item was chosen.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QAction;
class QMenu;

namespace quillo {

struct MenuState {
    QString status;
    bool busy = false;
    bool keyUnlocked = false;
    bool cachedIssue = false;
};

class StatusMenu : public QObject {
    Q_OBJECT

public:
    explicit StatusMenu(QObject* parent = nullptr);
    ~StatusMenu() override;
    StatusMenu(const StatusMenu&) = delete;
    StatusMenu& operator=(const StatusMenu&) = delete;
    StatusMenu(StatusMenu&&) = delete;
    StatusMenu& operator=(StatusMenu&&) = delete;

    // The one menu, for the tray and for the settings window's header alike.
    [[nodiscard]] QMenu* menu() const { return menu_.get(); }

    void show(const MenuState& state);

    // The status line as its menu item shows it: the first 90 user-perceived
    // characters, on one line, with "&" kept literal rather than a mnemonic.
    static QString statusTitle(const QString& status);

signals:
    void readLatestIssue();
    void syncNow();
    void showSettings();
    void openSite();
    void quit();

private:
    std::unique_ptr<QMenu> menu_;
    QAction* status_ = nullptr;
    QAction* readLatestIssue_ = nullptr;
    QAction* syncNow_ = nullptr;
};

} // namespace quillo
