#include "QuilloBar/settings/Questions.h"

#include "QuilloBar/settings/SettingsRules.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>

namespace quillo {

bool askBeforeDelivering(const QString& text, const QString& informativeText) {
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Quillo"));
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    // Printer names are the reader's own text: never let them pass for markup.
    box.setInformativeText(Qt::convertFromPlainText(informativeText, Qt::WhiteSpaceNormal));
    QPushButton* deliver = box.addButton(QStringLiteral("Deliver"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(deliver);
    box.setEscapeButton(cancel);
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
    return box.clickedButton() == deliver;
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
