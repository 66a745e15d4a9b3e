// Bringing a window forward for a later launch of the agent, which the
// desktop allows only with the activation token of that launch.
#pragma once

#include <QByteArray>

namespace quillo {

// Hands a later launch's token to Qt's platform plugin before the window is
// raised. The Wayland plugin activates the next window with
// XDG_ACTIVATION_TOKEN and then clears it. On X11 the startup id goes on the
// next window shown, which ends the launcher's busy feedback, and the time
// within it ("…_TIME<ms>") is the user's action that lets the window manager
// give the window the focus.
void takeActivationToken(const QByteArray& token);

} // namespace quillo
