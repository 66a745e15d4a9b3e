// The settings form's state, shared by the delegate and the settings view. It
// holds no logic: no validation, no persistence, no derived values.
#pragma once

#include "QuilloBar/settings/SettingsRules.h"
#include "kit/DeliveryKit.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <utility>

namespace quillo {

class SettingsModel : public QObject {
    Q_OBJECT

public:
    using Action = std::function<void()>;

    explicit SettingsModel(QObject* parent = nullptr);

    [[nodiscard]] DeliveryDestination destination() const { return destination_; }
    [[nodiscard]] const QString& key() const { return key_; }
    [[nodiscard]] bool keySaved() const { return keySaved_; }
    [[nodiscard]] bool needsUnlock() const { return needsUnlock_; }
    [[nodiscard]] bool replacingKey() const { return replacingKey_; }
    [[nodiscard]] const QStringList& printers() const { return printers_; }
    [[nodiscard]] const QString& printer() const { return printer_; }
    [[nodiscard]] int maxPages() const { return maxPages_; }
    [[nodiscard]] DisplayModel display() const { return display_; }
    [[nodiscard]] const QString& webhook() const { return webhook_; }
    [[nodiscard]] bool webhookSaved() const { return webhookSaved_; }
    [[nodiscard]] bool automatic() const { return automatic_; }
    [[nodiscard]] bool launchAtLogin() const { return launchAtLogin_; }
    [[nodiscard]] const QString& origin() const { return origin_; }
    [[nodiscard]] const QString& status() const { return status_; }
    [[nodiscard]] bool connected() const { return connected_; }
    // A run, an authorization or a save is in flight: Save and "Unlock…" wait.
    [[nodiscard]] bool working() const { return working_; }

    // Every write notifies, also when the value does not change.
    void setDestination(DeliveryDestination value) { write(destination_, value); }
    void setKey(const QString& value) { write(key_, value); }
    void setKeySaved(bool value) { write(keySaved_, value); }
    void setNeedsUnlock(bool value) { write(needsUnlock_, value); }
    void setReplacingKey(bool value) { write(replacingKey_, value); }
    void setPrinters(const QStringList& value) { write(printers_, value); }
    void setPrinter(const QString& value) { write(printer_, value); }
    void setMaxPages(int value) { write(maxPages_, value); }
    void setDisplay(DisplayModel value) { write(display_, value); }
    void setWebhook(const QString& value) { write(webhook_, value); }
    void setWebhookSaved(bool value) { write(webhookSaved_, value); }
    void setAutomatic(bool value) { write(automatic_, value); }
    void setLaunchAtLogin(bool value) { write(launchAtLogin_, value); }
    void setOrigin(const QString& value) { write(origin_, value); }
    void setStatus(const QString& value) { write(status_, value); }
    void setConnected(bool value) { write(connected_, value); }
    void setWorking(bool value) { write(working_, value); }

    // Replaceable by the delegate; the view only invokes them. Replacing one
    // notifies nobody. Each does nothing until wired.
    Action save = [] {};
    Action unlock = [] {};
    Action openNewsroom = [] {};
    Action openDisplayGuide = [] {};
    Action previewDisplay = [] {};
    Action openQueue = [] {};

signals:
    // After every write of a state field.
    void changed();
    // Save was refused because of what `field` holds, for `message`; sent
    // before the status shows the message.
    void refused(quillo::FormField field, const QString& message);

private:
    template <typename T> void write(T& field, T value) {
        field = std::move(value);
        emit changed();
    }

    DeliveryDestination destination_ = DeliveryDestination::printer;
    QString key_;
    bool keySaved_ = false;
    bool needsUnlock_ = false;
    bool replacingKey_ = false;
    QStringList printers_;
    QString printer_;
    int maxPages_ = 3;
    DisplayModel display_ = DisplayModel::og;
    QString webhook_;
    bool webhookSaved_ = false;
    bool automatic_ = false;
    bool launchAtLogin_ = false;
    QString origin_;
    QString status_;
    bool connected_ = false;
    bool working_ = false;
};

// What the reader can type or choose in the form, to tell an unsaved edit.
struct SettingsChoices {
    DeliveryDestination destination = DeliveryDestination::printer;
    QString key;
    QString printer;
    int maxPages = 0;
    DisplayModel display = DisplayModel::og;
    QString webhook;
    bool automatic = false;
    bool launchAtLogin = false;
    QString origin;

    bool operator==(const SettingsChoices&) const = default;
};

SettingsChoices choicesOf(const SettingsModel& form);

} // namespace quillo
