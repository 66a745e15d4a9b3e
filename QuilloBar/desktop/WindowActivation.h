// Bringing a window forward for a later launch of the agent, which the
// desktop allows only with the activation token of that launch.
#pragma once

#include <QByteArray>

class QWidget;

namespace quillo {

// Hands a later launch's X11 startup id to Qt's platform plugin before the
// window is raised. It goes on the next window mapped, which ends the
// launcher's busy feedback (one already shown ends it here, as hiding it to
// map it again would blink), and the time within it ("…_TIME<ms>") is the
// user's action that lets the window manager give the window the focus.
// Does nothing off X11.
void takeActivationToken(const QByteArray& token, bool windowShown);

// On Wayland, once the compositor shows the window, asks it to activate the
// window with the launch's token (Qt 6.4's plugin spends none it is given),
// or, for a launch that brought none (a terminal, a script, a file manager),
// with a token of the agent's own: made without a user action, it lets the
// compositor give the focus where its rules allow, and mark the window as
// wanting attention where they do not. Does nothing off Wayland.
void activateWhenShown(QWidget& window, const QByteArray& launchToken);

} // namespace quillo
