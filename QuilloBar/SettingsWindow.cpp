#include "QuilloBar/SettingsWindow.h"

#include "QuilloBar/SettingsRules.h"
#include "QuilloBar/SettingsView.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace quillo {

SettingsWindow::SettingsWindow(SettingsModel& model, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      view_(new SettingsView(model, this)) {
    setWindowTitle(QStringLiteral("Quillo"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    setFixedSize(SettingsView::windowSize);
    if (const QScreen* screen = this->screen()) {
        QRect frame(QPoint(), SettingsView::windowSize);
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void SettingsWindow::present() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void SettingsWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool confirmTurnOn(QWidget* parent, DeliveryDestination destination) {
    QMessageBox alert(parent);
    alert.setWindowTitle(QStringLiteral("Quillo"));
    alert.setIcon(QMessageBox::Question);
    alert.setText(TurnOnAlert::message);
    alert.setInformativeText(TurnOnAlert::details(destination));
    alert.setTextFormat(Qt::PlainText);
    QPushButton* turnOn = alert.addButton(TurnOnAlert::confirm, QMessageBox::AcceptRole);
    alert.addButton(TurnOnAlert::cancel, QMessageBox::RejectRole);
    alert.setDefaultButton(turnOn);
    alert.exec();
    return alert.clickedButton() == turnOn;
}

} // namespace quillo
