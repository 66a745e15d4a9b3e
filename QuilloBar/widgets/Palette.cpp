#include "QuilloBar/widgets/Palette.h"

#include <QPainter>
#include <QWidget>
#include <algorithm>

namespace quillo {

QColor mix(const QColor& from, const QColor& to, float amount) {
    const auto channel = [amount](float a, float b) { return a + (b - a) * amount; };
    return QColor::fromRgbF(channel(from.redF(), to.redF()), channel(from.greenF(), to.greenF()),
                            channel(from.blueF(), to.blueF()));
}

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor ink(const QPalette& palette) {
    return palette.color(QPalette::WindowText);
}

QColor paper(const QPalette& palette) {
    return palette.color(QPalette::Window);
}

QColor secondaryInk(const QPalette& palette) {
    return mix(ink(palette), paper(palette), 0.42);
}

void setInk(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

QFont scaledFont(const QFont& base, qreal scale) {
    QFont font = base;
    if (base.pointSizeF() > 0) {
        font.setPointSizeF(std::max(7.0, base.pointSizeF() * scale));
    } else {
        font.setPixelSize(std::max(9, qRound(base.pixelSize() * scale)));
    }
    return font;
}

QIcon themeIcon(const char* symbolic, const char* plain, const char* fallback) {
    return QIcon::fromTheme(
        QLatin1StringView(symbolic),
        QIcon::fromTheme(QLatin1StringView(plain), QIcon(QLatin1StringView(fallback))));
}

QPixmap tinted(const QIcon& icon, qreal ratio, const QColor& color) {
    QPixmap pixmap = icon.pixmap(QSize(iconSide, iconSide), ratio);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    return pixmap;
}

QColor linkInk(const QPalette& palette) {
    const QColor accent = palette.color(QPalette::Highlight);
    return mix(accent, ink(palette), isDark(palette) ? 0.25 : 0.2);
}

QColor hairline(const QPalette& palette) {
    return mix(paper(palette), ink(palette), isDark(palette) ? 0.16 : 0.13);
}

QColor cardFill(const QPalette& palette) {
    return isDark(palette) ? mix(paper(palette), ink(palette), 0.05)
                           : mix(paper(palette), palette.color(QPalette::Base), 0.75);
}

QColor trackFill(const QPalette& palette) {
    return mix(paper(palette), ink(palette), isDark(palette) ? 0.12 : 0.08);
}

QColor footerFill(const QPalette& palette) {
    return isDark(palette) ? mix(paper(palette), ink(palette), 0.04)
                           : mix(paper(palette), palette.color(QPalette::Base), 0.45);
}

void drawFocusRing(QPainter& painter, const QRectF& box, qreal radius, const QColor& ring) {
    painter.setPen(QPen(ring, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(box.adjusted(1, 1, -1, -1), radius, radius);
}

} // namespace quillo
