// The form's colours, fonts and icons, drawn from whatever palette is in
// force, so light and dark both follow the desktop.
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QPixmap>

class QPainter;
class QRectF;
class QWidget;

namespace quillo {

// Layout shared by the controls and the form, in device-independent pixels.
inline constexpr int rowSide = 12;
inline constexpr int rowHeight = 40;
inline constexpr int iconSide = 16;

// Colours derived from the palette, so light and dark both follow the desktop.
QColor mix(const QColor& from, const QColor& to, float amount);
bool isDark(const QPalette& palette);
QColor ink(const QPalette& palette);
QColor paper(const QPalette& palette);
QColor secondaryInk(const QPalette& palette);
void setInk(QWidget* widget, const QColor& color);

QFont scaledFont(const QFont& base, qreal scale);
// The theme's symbolic icon, else its plain one, else the bundled file.
QIcon themeIcon(const char* symbolic, const char* plain, const char* fallback);
// Theme icons come in the theme's own colours, which may vanish on the
// palette in force; the form draws them in its text colour instead.
QPixmap tinted(const QIcon& icon, qreal ratio, const QColor& color);

// Links take the accent colour, moved towards the text colour until small
// text reads on the window background.
QColor linkInk(const QPalette& palette);
QColor hairline(const QPalette& palette);
QColor cardFill(const QPalette& palette);
QColor trackFill(const QPalette& palette);
QColor footerFill(const QPalette& palette);

// A ring of two pixels inside `box`, opaque: a translucent ring loses contrast.
void drawFocusRing(QPainter& painter, const QRectF& box, qreal radius, const QColor& ring);

} // namespace quillo
