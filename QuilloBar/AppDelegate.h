#pragma once

#include "agent/DeliveryRun.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>

namespace quillo {

class Preferences;

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
        bool previewMode = false;
        std::chrono::milliseconds toolStepTimeLimit = quillo::toolStepTimeLimit;
    };

    // The running install tree, the user's preferences and the process arguments.
    explicit AppDelegate(QObject* parent = nullptr);
    explicit AppDelegate(const Setup& setup, QObject* parent = nullptr);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;
    AppDelegate(AppDelegate&&) = delete;
    AppDelegate& operator=(AppDelegate&&) = delete;

    [[nodiscard]] bool busy() const { return busy_; }
    [[nodiscard]] const QString& status() const { return status_; }
    [[nodiscard]] Preferences& defaults() const { return *defaults_; }
    [[nodiscard]] bool previewMode() const { return previewMode_; }
    [[nodiscard]] const std::optional<QString>& unlockedToken() const { return unlockedToken_; }
    [[nodiscard]] const std::optional<QString>& unlockedWebhook() const { return unlockedWebhook_; }
    void setUnlockedToken(const std::optional<QString>& token) { unlockedToken_ = token; }
    void setUnlockedWebhook(const std::optional<QString>& webhook) { unlockedWebhook_ = webhook; }

    // The cached newest issue for the stored origin and the unlocked key, read
    // afresh on every call.
    [[nodiscard]] std::optional<QString> cachedPDF() const;

    // Starts one delivery run, or a check only when `delivery` is false.
    // Returns at once; a trigger while a run is in flight is dropped.
    void runAgent(bool delivery);

    // Called after every change of the status line.
    void refreshMenu();

signals:
    void statusChanged(const QString& status);

private:
    [[nodiscard]] RunSettings runSettings(bool delivery) const;
    void finishRun(const QString& resultLine);

    bool busy_ = false;
    QString status_;
    std::unique_ptr<Preferences> defaults_;
    bool previewMode_ = false;
    std::optional<QString> unlockedToken_;
    std::optional<QString> unlockedWebhook_;

    std::filesystem::path installRoot_;
    std::chrono::milliseconds toolStepTimeLimit_;
};

} // namespace quillo
