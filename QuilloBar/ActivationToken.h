// Activation tokens the agent makes or spends itself, beside the ones a
// launch brings.
#pragma once

#include <QByteArray>

class QWindow;

namespace quillo {

// On Wayland, a token asked of the compositor by the agent itself for a
// launch that brought none (a terminal, a script, a file manager). Made
// without a user action, it lets the compositor give the window the focus
// where its rules allow, and mark it as wanting attention where they do not.
// Empty off Wayland, or where the compositor has no xdg-activation.
QByteArray selfMadeActivationToken(const QWindow* window);

// On X11, tells the launcher that the launch with this startup id is over,
// ending its busy feedback, as a window that maps for it would.
void endStartupFeedback(const QByteArray& startupId);

} // namespace quillo
