// Activation tokens the agent makes or spends itself, beside the ones a
// launch brings.
#pragma once

#include <QByteArray>

class QWindow;

namespace quillo {

// On Wayland, asks the compositor to activate the shown window with the
// launch's token (Qt 6.4 spends none it is given), or, for a launch that
// brought none (a terminal, a script, a file manager), with a token of the
// agent's own: made without a user action, it lets the compositor give the
// window the focus where its rules allow, and mark it as wanting attention
// where they do not. False off Wayland or without xdg-activation.
bool activateOnWayland(const QWindow& window, const QByteArray& launchToken);

// On X11, tells the launcher that the launch with this startup id is over,
// ending its busy feedback, as a window that maps for it would.
void endStartupFeedback(const QByteArray& startupId);

} // namespace quillo
