// What the form's controls tell assistive technology, and the focus ring
// drawn over the standard controls among them.
#pragma once

#include <QAccessible>

class QWidget;

namespace quillo {

// Draws the form's focus ring over a standard button, field or picker, whose
// own accent outline falls short of 3:1 on the cards. `control` keeps it.
void ringWhenFocused(QWidget* control);

// Qt 6.4 lets a widget name itself to assistive technology but not say what
// it is; this gives `widget` `role`. Takes effect once the interfaces below
// are installed, and only before anything asked for the widget's interface.
void setAccessibleRole(QWidget* widget, QAccessible::Role role);

// Gives the painted controls (Controls.h), and widgets given a role, the roles and states
// Qt's own interfaces leave out. Once per process; later calls do nothing.
void installControlInterfaces();

} // namespace quillo
