#pragma once

#include "QuilloBar/app/Keyring.h"
#include "QuilloBar/app/Launch.h"
#include "QuilloBar/app/StatusMenu.h"
#include "QuilloBar/desktop/LoginItem.h"
#include "QuilloBar/desktop/PrinterList.h"
#include "QuilloBar/settings/SettingsModel.h"
#include "QuilloBar/settings/SettingsWindow.h"
#include "agent/DeliveryRun.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class QSystemTrayIcon;
class QTimer;
class QUrl;
class QWidget;

namespace quillo {

class Preferences;
class TrayHostWatcher;
struct ValidatedSave;
struct VaultLookup;

// The hub of the tray application: owns all mutable state, on the main thread.
// Blocking work runs on the thread pool and hands its result back here.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // What the production constructor finds for itself; tests inject their own.
    struct Setup {
        std::filesystem::path installRoot;
        // The user's own store when empty.
        QString preferencesFile;
        // The process arguments, which choose preview mode and the launch window.
        QStringList arguments;
        std::chrono::milliseconds toolStepTimeLimit = quillo::toolStepTimeLimit;
        // The program that lists the print queues.
        QString printerListing = systemPrinterListing;
        // The reader's autostart folder when empty.
        QString autostartDirectory;
    };

    // How the delegate reaches the desktop: opening files and addresses,
    // starting programs, and asking before a delivery. Tests replace them.
    struct Desktop {
        std::function<void(const QUrl&)> open;
        std::function<void(const QString& program)> start;
        // True when the reader chose to deliver.
        std::function<bool(const QString& text, const QString& informativeText)> confirmDelivery;
        // True when the reader chose to turn automatic delivery on.
        std::function<bool(DeliveryDestination destination)> confirmTurnOn;
    };

    // The running install tree, the user's preferences and the process arguments.
    explicit AppDelegate(QObject* parent = nullptr);
    explicit AppDelegate(const Setup& setup, QObject* parent = nullptr);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;
    AppDelegate(AppDelegate&&) = delete;
    AppDelegate& operator=(AppDelegate&&) = delete;

    Desktop desktop;

    // A delivery run is out; a second trigger is dropped.
    [[nodiscard]] bool running() const { return running_; }
    // A run or a keyring call is out: the form's buttons wait for it.
    [[nodiscard]] bool working() const { return running_ || keyring_.working(); }
    [[nodiscard]] const QString& status() const { return status_; }
    [[nodiscard]] Preferences& defaults() const { return *defaults_; }
    [[nodiscard]] bool previewMode() const { return previewMode_; }
    [[nodiscard]] const QString& fingerprint() const { return fingerprint_; }
    [[nodiscard]] Keyring& keyring() { return keyring_; }
    [[nodiscard]] const Keyring& keyring() const { return keyring_; }
    [[nodiscard]] SettingsModel& form() { return form_; }
    [[nodiscard]] const StatusMenu& menu() const { return menu_; }
    [[nodiscard]] QWidget* settingsWindow() const { return settings_.get(); }
    [[nodiscard]] const QTimer* timer() const { return timer_; }

    // A run, a keyring call (a probe included) or a preview render has not come back yet.
    [[nodiscard]] bool hasWorkInFlight() const {
        return tasksInFlight_ > 0 || keyring_.hasCallsOut();
    }

    // The cached newest issue for the stored origin and the unlocked key, read
    // afresh on every call.
    [[nodiscard]] std::optional<QString> cachedPDF() const;

    // The tray item, the schedule, the launch window and the launch-time unlock.
    void applicationDidFinishLaunching();
    // Launching the running agent again shows its settings, brought forward
    // with the desktop's activation token of that launch when it has one.
    void applicationShouldHandleReopen(const QByteArray& activationToken = {});

    // Starts one delivery run, or a check only when `delivery` is false.
    // Returns at once; a trigger while a run is in flight is dropped.
    void runAgent(bool delivery);

    // Called after every change of the status line.
    void refreshMenu();

    // The menu's and the settings form's actions.
    void syncNow();
    void preview();
    void previewDisplay();
    void openSite();
    void openDisplayGuide();
    void openQueue();
    void quit();
    void showSettings();
    void saveSettings();
    void authorizeKey();
    // A tray host appeared after a launch without one: the agent starts again
    // once nothing is in flight and the form holds no unsaved edit.
    void trayHostAppeared();

signals:
    void statusChanged(const QString& status);
    // A tray host appeared after a launch without one and nothing is in
    // flight: the process should start again in place to show its tray item.
    void restartRequested(bool settingsVisible);

private:
    [[nodiscard]] RunSettings runSettings(bool delivery) const;
    template <typename Work, typename Done> void inBackground(Work work, Done done);
    void finishRun(const QString& resultLine);
    void showTrayItem();
    void schedule();
    void finishRead(const VaultLookup& key, bool interactive);
    void showKeyState(const VaultLookup& key);
    void probeSavedKey();
    void storeTypedSecrets(const ValidatedSave& save);
    void finishSave(const ValidatedSave& save, const Keyring::Saved& stored,
                    SettingsChoices submitted);
    [[nodiscard]] bool hasUnsavedEdits() const;
    void startSnapshot(const QString& path);
    void fillForm();
    void failSave(const QString& message);
    void installFormActions();
    void openNewsroom();
    void restartWhenIdle();

    StatusMenu menu_;
    std::unique_ptr<QSystemTrayIcon> item_;
    QTimer* timer_ = nullptr;
    bool running_ = false;
    QString status_;
    SettingsModel form_;
    std::unique_ptr<SettingsWindow> settings_;
    std::unique_ptr<Preferences> defaults_;
    QString fingerprint_;
    LaunchArguments arguments_;
    bool previewMode_ = false;
    Keyring keyring_;

    std::filesystem::path installRoot_;
    std::chrono::milliseconds toolStepTimeLimit_;
    QString printerListing_;
    LoginItem loginItem_;
    int tasksInFlight_ = 0;
    TrayHostWatcher* trayHostWatcher_ = nullptr;
    bool restartPending_ = false;
    // The form as last filled or saved: anything else is the reader's unsaved edit.
    SettingsChoices savedChoices_;
};

} // namespace quillo
