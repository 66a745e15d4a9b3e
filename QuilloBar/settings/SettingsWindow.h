// The settings window: the form in a closable window titled "Quillo", sized
// by the form; it opens with the form's first control focused.
// Closing only hides it; the form's model keeps every unsaved edit.
#pragma once

#include "kit/DeliveryKit.h"

#include <QWidget>

namespace quillo {

class SettingsModel;
class SettingsView;

class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    explicit SettingsWindow(SettingsModel& model, QWidget* parent = nullptr);

    [[nodiscard]] SettingsView& view() const { return *view_; }

    // Shows the window in front, restored if it was minimised, with keyboard focus.
    void present();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    SettingsView* view_;
    bool placed_ = false;
};

} // namespace quillo
