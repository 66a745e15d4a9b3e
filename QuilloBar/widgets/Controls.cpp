#include "QuilloBar/widgets/Controls.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace quillo {
namespace {

constexpr int cardRadius = 8;
constexpr QSize wordmarkSize{158, 40};

} // namespace

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
    const QColor fill = isChecked() ? palette().color(QPalette::Highlight)
                                    : mix(paper(palette()), ink(palette()), 0.25);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, 10, 10);
    const qreal knobLeft = isChecked() ? track.right() - 18 : track.left() + 2;
    painter.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
    painter.setBrush(QColor(Qt::white));
    painter.drawEllipse(QRectF(knobLeft, track.top() + 2, 16, 16));
    if (hasFocus()) {
        drawFocusRing(painter, track.adjusted(-2, -2, 2, 2), 12, ink(palette()));
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
        drawFocusRing(painter, rect(), 4, ink(palette()));
    }
}

Segment::Segment(const QString& text, QIcon icon, QWidget* parent)
    : QRadioButton(text, parent), icon_(std::move(icon)) {
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
    QColor fill = trackFill(colours);
    if (isChecked()) {
        fill = isDark(colours) ? mix(paper(colours), ink(colours), 0.26)
                               : colours.color(QPalette::Base);
        painter.setPen(hairline(colours));
        painter.setBrush(fill);
        painter.drawRoundedRect(box, 6, 6);
    } else if (underMouse()) {
        fill = mix(trackFill(colours), ink(colours), 0.05);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(box, 6, 6);
    }
    if (hasFocus()) {
        drawFocusRing(painter, QRectF(rect()), 6, ink(colours));
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

bool Segment::hitButton(const QPoint& point) const {
    return rect().contains(point);
}

SegmentTrack::SegmentTrack(QWidget* parent) : QWidget(parent) {
    setAccessibleRole(this, QAccessible::Grouping);
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
        drawFocusRing(painter, rect(), 4, ink(palette()));
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
        drawFocusRing(painter, QRectF(rect()), 9, ink(palette()));
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

void StatusText::announce() {
    if (announcing_) {
        return;
    }
    announcing_ = true;
    QTimer::singleShot(0, this, [this] {
        announcing_ = false;
        QAccessibleEvent event(this, QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&event);
    });
}

// Each paragraph wraps on its own; the last line shown takes the rest of the
// text, its breaks turned into spaces, cut with an ellipsis.
QStringList StatusText::visibleLines() const {
    const QFontMetrics metrics(font());
    QString rest = text();
    rest.remove(u'\r');
    QStringList lines;
    while (lines.size() < maxLines - 1 && !rest.isEmpty()) {
        const qsizetype paragraphEnd = rest.indexOf(u'\n');
        const QString paragraph = paragraphEnd < 0 ? rest : rest.first(paragraphEnd);
        QTextLayout layout(paragraph, font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(width());
        const qsizetype taken = line.isValid() ? line.textLength() : paragraph.size();
        layout.endLayout();
        lines.append(paragraph.first(taken));
        const bool wholeParagraph = taken >= paragraph.size();
        rest = rest.sliced(wholeParagraph && paragraphEnd >= 0 ? taken + 1 : taken);
    }
    if (!rest.isEmpty() || lines.isEmpty()) {
        rest.replace(u'\n', u' ');
        lines.append(metrics.elidedText(rest, Qt::ElideRight, width()));
    }
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

FooterBar::FooterBar(QWidget* parent) : QWidget(parent) {
    setAccessibleRole(this, QAccessible::StatusBar);
}

void FooterBar::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), footerFill(palette()));
    painter.setPen(hairline(palette()));
    painter.drawLine(0, 0, width(), 0);
}

} // namespace quillo
