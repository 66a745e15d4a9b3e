#include "QuilloBar/settings/SettingsWindow.h"

#include "QuilloBar/settings/SettingsRules.h"
#include "QuilloBar/settings/SettingsView.h"
#include "QuilloBar/widgets/Controls.h"

#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace quillo {

SettingsWindow::SettingsWindow(SettingsModel& model, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      view_(new SettingsView(model, this)) {
    setWindowTitle(QStringLiteral("Quillo"));
    setAccessibleRole(this, QAccessible::Window);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The window takes the view's size, which follows the rows shown.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(view_);
}

void SettingsWindow::present() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void SettingsWindow::showEvent(QShowEvent* event) {
    if (!placed_) {
        placed_ = true;
        // Centred by its size at its first showing, when the form holds what
        // it shows: a window moved by any other size (Qt's default 640 × 480)
        // lands off-centre and partly off screen.
        QRect frame(QPoint(), size());
        frame.moveCenter(screen()->availableGeometry().center());
        move(frame.topLeft());
    }
    if (focusWidget() == nullptr) {
        view_->focusFirstControl();
    }
    QWidget::showEvent(event);
}

void SettingsWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace quillo
