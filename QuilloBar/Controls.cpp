#include "QuilloBar/Controls.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QVBoxLayout>
#include <algorithm>

namespace quillo {
namespace {

constexpr int cardRadius = 8;
constexpr QSize wordmarkSize{158, 40};

// Links take the accent colour, moved towards the text colour until small
// text reads on the window background.
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

void drawFocusRing(QPainter& painter, const QRectF& box, qreal radius, const QPalette& palette) {
    QColor ring = palette.color(QPalette::Highlight);
    ring.setAlphaF(0.75);
    painter.setPen(QPen(ring, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(box.adjusted(1, 1, -1, -1), radius, radius);
}

} // namespace

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

Card::Card(QWidget* parent) : QWidget(parent), rows_(new QVBoxLayout(this)) {
    rows_->setContentsMargins(0, 0, 0, 0);
    rows_->setSpacing(0);
}

QHBoxLayout* Card::addRow(QWidget* row, int height) {
    row->setParent(this);
    row->setMinimumHeight(height);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(rowSide, 6, rowSide, 6);
    layout->setSpacing(8);
    rows_->addWidget(row);
    return layout;
}

void Card::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(hairline(palette()));
    painter.setBrush(cardFill(palette()));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cardRadius, cardRadius);
    painter.setRenderHint(QPainter::Antialiasing, false);
    bool first = true;
    for (int index = 0; index < rows_->count(); ++index) {
        const QWidget* row = rows_->itemAt(index)->widget();
        if (row == nullptr || row->isHidden()) {
            continue;
        }
        if (!first) {
            painter.drawLine(rowSide, row->y(), width() - 2, row->y());
        }
        first = false;
    }
}

void SwitchRow::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void SwitchRow::mouseReleaseEvent(QMouseEvent* event) {
    if (rect().contains(event->position().toPoint())) {
        target_->toggle();
    }
}

Switch::Switch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Switch::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(2, (height() - 20) / 2.0, 36, 20);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? palette().color(QPalette::Highlight)
                                 : mix(paper(palette()), ink(palette()), 0.25));
    painter.drawRoundedRect(track, 10, 10);
    const qreal knobLeft = isChecked() ? track.right() - 18 : track.left() + 2;
    painter.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
    painter.setBrush(QColor(Qt::white));
    painter.drawEllipse(QRectF(knobLeft, track.top() + 2, 16, 16));
    if (hasFocus()) {
        drawFocusRing(painter, track.adjusted(-2, -2, 2, 2), 12, palette());
    }
}

LinkButton::LinkButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize LinkButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 6, metrics.height() + 8};
}

void LinkButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = this->font();
    font.setUnderline(underMouse());
    painter.setFont(font);
    painter.setPen(linkInk(palette()));
    painter.drawText(rect(), Qt::AlignCenter, text());
    if (hasFocus()) {
        drawFocusRing(painter, rect(), 4, palette());
    }
}

Segment::Segment(const QString& text, QIcon icon, QWidget* parent)
    : QAbstractButton(parent), icon_(std::move(icon)) {
    setText(text);
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize Segment::sizeHint() const {
    const QFontMetrics metrics(font());
    return {iconSide + 6 + metrics.horizontalAdvance(text()) + 24,
            std::max(28, metrics.height() + 12)};
}

void Segment::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colours = palette();
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (isChecked()) {
        painter.setPen(hairline(colours));
        painter.setBrush(isDark(colours) ? mix(paper(colours), ink(colours), 0.26)
                                         : colours.color(QPalette::Base));
        painter.drawRoundedRect(box, 6, 6);
    } else if (underMouse()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(mix(trackFill(colours), ink(colours), 0.05));
        painter.drawRoundedRect(box, 6, 6);
    }
    if (hasFocus()) {
        drawFocusRing(painter, box, 6, colours);
    }
    const QFontMetrics metrics(font());
    const int contentWidth = iconSide + 6 + metrics.horizontalAdvance(text());
    const int left = (width() - contentWidth) / 2;
    painter.drawPixmap(QRect(left, (height() - iconSide) / 2, iconSide, iconSide),
                       tinted(icon_, devicePixelRatioF(), ink(colours)));
    painter.setPen(ink(colours));
    painter.drawText(QRect(left + iconSide + 6, 0, width(), height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text());
}

void SegmentTrack::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(trackFill(palette()));
    painter.drawRoundedRect(QRectF(rect()), 8, 8);
}

Disclosure::Disclosure(const QString& text, QWidget* parent) : QAbstractButton(parent) {
    setText(text);
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize Disclosure::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 24, metrics.height() + 8};
}

void Disclosure::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal middle = height() / 2.0;
    QPainterPath chevron;
    if (isChecked()) {
        chevron.moveTo(1, middle - 2);
        chevron.lineTo(5, middle + 2);
        chevron.lineTo(9, middle - 2);
    } else {
        chevron.moveTo(3, middle - 4);
        chevron.lineTo(7, middle);
        chevron.lineTo(3, middle + 4);
    }
    painter.setPen(QPen(secondaryInk(palette()), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(chevron);
    painter.setPen(ink(palette()));
    painter.drawText(rect().adjusted(18, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, text());
    if (hasFocus()) {
        drawFocusRing(painter, rect(), 4, palette());
    }
}

ProminentButton::ProminentButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
}

QSize ProminentButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {std::max(96, metrics.horizontalAdvance(text()) + 44),
            std::max(34, metrics.height() + 16)};
}

void ProminentButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::Highlight);
    if (isDown()) {
        fill = fill.darker(115);
    } else if (underMouse()) {
        fill = fill.lighter(108);
    }
    const QRectF box = QRectF(rect()).adjusted(2, 2, -2, -2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(box, 7, 7);
    if (hasFocus()) {
        drawFocusRing(painter, QRectF(rect()), 9, palette());
    }
    QFont font = this->font();
    font.setWeight(QFont::DemiBold);
    painter.setFont(font);
    painter.setPen(palette().color(QPalette::HighlightedText));
    painter.drawText(box, Qt::AlignCenter, text());
}

StatusText::StatusText(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

QSize StatusText::sizeHint() const {
    return {120, 2 * QFontMetrics(font()).lineSpacing()};
}

void StatusText::paintEvent(QPaintEvent* /*event*/) {
    const QStringList lines = visibleLines();
    const QFontMetrics metrics(font());
    int top = (height() - int(lines.size()) * metrics.lineSpacing()) / 2;
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    for (const QString& line : lines) {
        painter.drawText(QRect(0, top, width(), metrics.lineSpacing()),
                         Qt::AlignLeading | Qt::AlignVCenter, line);
        top += metrics.lineSpacing();
    }
}

QStringList StatusText::visibleLines() const {
    QString shown = text();
    shown.replace(u'\n', u' ');
    QTextLayout layout(shown, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width());
        if (!lines.isEmpty()) {
            lines.append(QFontMetrics(font()).elidedText(shown.sliced(line.textStart()),
                                                         Qt::ElideRight, width()));
            break;
        }
        lines.append(shown.sliced(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    return lines;
}

ConnectionDot::ConnectionDot(QWidget* parent) : QWidget(parent) {
    setFixedSize(7, 7);
}

void ConnectionDot::setConnected(bool connected) {
    if (connected != connected_) {
        connected_ = connected;
        update();
    }
}

void ConnectionDot::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = connected_
                      ? (isDark(palette()) ? QColor(0x30, 0xd1, 0x58) : QColor(0x28, 0xa7, 0x45))
                      : secondaryInk(palette());
    if (!connected_) {
        fill.setAlphaF(0.5);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawEllipse(QRectF(rect()));
}

Wordmark::Wordmark(QWidget* parent)
    : QWidget(parent), light_(QStringLiteral(":/quillo/Wordmark.svg")),
      dark_(QStringLiteral(":/quillo/Wordmark-dark.svg")) {
    setFixedSize(wordmarkSize);
    setAccessibleName(QStringLiteral("Quillo"));
}

void Wordmark::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    artwork().render(&painter, QRectF(rect()));
}

void FooterBar::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), isDark(palette())
                                 ? mix(paper(palette()), ink(palette()), 0.04)
                                 : mix(paper(palette()), palette().color(QPalette::Base), 0.45));
    painter.setPen(hairline(palette()));
    painter.drawLine(0, 0, width(), 0);
}

} // namespace quillo
