// Finds controls the way a screen reader does: by the accessible name; a
// picker by the label joined to it. Labels themselves and hidden controls do
// not count.
#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QWidget>

namespace quillo::testing {

inline QList<QAccessibleInterface*> namedControls(const QWidget& window, const QString& name) {
    QList<QAccessibleInterface*> found;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
        if (face == nullptr || face->role() == QAccessible::StaticText ||
            !widget->isVisibleTo(&window)) {
            continue;
        }
        const auto labels = face->relations(QAccessible::Label);
        const QString named = face->role() != QAccessible::ComboBox ? face->text(QAccessible::Name)
                              : labels.isEmpty()                    ? QString()
                                                 : labels.first().first->text(QAccessible::Name);
        if (named == name) {
            found.append(face);
        }
    }
    return found;
}

// The one button of that name, or none.
inline QAbstractButton* namedButton(const QWidget& window, const QString& name) {
    const auto found = namedControls(window, name);
    return found.size() == 1 ? qobject_cast<QAbstractButton*>(found[0]->object()) : nullptr;
}

} // namespace quillo::testing
