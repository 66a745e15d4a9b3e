#include "QuilloBar/Controls.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProxyStyle>
#include <QStyleOption>
#include <QTextLayout>
#include <QTimer>
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

QColor footerFill(const QPalette& palette) {
    return isDark(palette) ? mix(paper(palette), ink(palette), 0.04)
                           : mix(paper(palette), palette.color(QPalette::Base), 0.45);
}

constexpr char roleProperty[] = "quilloAccessibleRole";

// A ring of two pixels inside `box`, opaque: a translucent ring loses contrast.
void drawFocusRing(QPainter& painter, const QRectF& box, qreal radius, const QColor& ring) {
    painter.setPen(QPen(ring, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(box.adjusted(1, 1, -1, -1), radius, radius);
}

// The ring of the form's own controls, over what the application's style drew.
class FocusRingStyle : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        if (element == PE_PanelButtonCommand || element == PE_PanelLineEdit) {
            ring(option, painter);
        }
    }
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        if (control == CC_ComboBox || control == CC_ToolButton) {
            ring(option, painter);
        }
    }

private:
    static void ring(const QStyleOption* option, QPainter* painter) {
        if (!option->state.testFlag(State_HasFocus)) {
            return;
        }
        const QPalette& colours = option->palette;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        drawFocusRing(*painter, QRectF(option->rect), 4, ink(colours));
        painter->restore();
    }
};

} // namespace

void ringWhenFocused(QWidget* control) {
    static FocusRingStyle* const style = [] {
        auto* shared = new FocusRingStyle;
        shared->setParent(qApp);
        return shared;
    }();
    control->setStyle(style);
}

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
    // The group's one Tab stop is its checked choice. Qt moves the stop only
    // to a choice that takes focus, not to one checked by click or by the form.
    connect(this, &QAbstractButton::toggled, this, [this](bool checked) {
        for (auto* choice : parentWidget()->findChildren<Segment*>(Qt::FindDirectChildrenOnly)) {
            if (checked) {
                choice->setFocusPolicy(choice == this ? Qt::TabFocus : Qt::NoFocus);
            }
        }
    });
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
    connect(this, &QAbstractButton::toggled, this,
            [this](bool open) { announceExpanded(this, open); });
}

QSize Disclosure::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 26, metrics.height() + 8};
}

void Disclosure::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal middle = height() / 2.0;
    // Clear of the focus ring along the left edge.
    QPainterPath chevron;
    if (isChecked()) {
        chevron.moveTo(4, middle - 2);
        chevron.lineTo(8, middle + 2);
        chevron.lineTo(12, middle - 2);
    } else {
        chevron.moveTo(6, middle - 4);
        chevron.lineTo(10, middle);
        chevron.lineTo(6, middle + 4);
    }
    painter.setPen(QPen(secondaryInk(palette()), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(chevron);
    painter.setPen(ink(palette()));
    painter.drawText(rect().adjusted(20, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, text());
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

namespace {

// A disclosure is a button that shows or hides rows: expandable, and
// expanded or collapsed, rather than a check box.
class DisclosureInterface : public QAccessibleWidget {
public:
    explicit DisclosureInterface(Disclosure* button)
        : QAccessibleWidget(button, QAccessible::Button) {}

    [[nodiscard]] QString text(QAccessible::Text kind) const override {
        const QString own = QAccessibleWidget::text(kind);
        return kind == QAccessible::Name && own.isEmpty() ? button()->text() : own;
    }
    [[nodiscard]] QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = button()->isChecked();
        state.collapsed = !button()->isChecked();
        return state;
    }
    [[nodiscard]] QStringList actionNames() const override {
        return {pressAction(), setFocusAction()};
    }
    void doAction(const QString& action) override {
        if (action == pressAction()) {
            button()->click();
        } else {
            QAccessibleWidget::doAction(action);
        }
    }

private:
    [[nodiscard]] QAbstractButton* button() const {
        return static_cast<QAbstractButton*>(widget());
    }
};

// The status as a notification, named by its whole text: the line shown may
// be cut.
class StatusInterface : public QAccessibleWidget {
public:
    explicit StatusInterface(StatusText* status)
        : QAccessibleWidget(status, QAccessible::Notification) {}

    [[nodiscard]] QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Name ? static_cast<QLabel*>(widget())->text()
                                         : QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* controlInterface(const QString& /*className*/, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) {
        return nullptr;
    }
    auto* widget = static_cast<QWidget*>(object);
    if (auto* disclosure = dynamic_cast<Disclosure*>(widget)) {
        return new DisclosureInterface(disclosure);
    }
    if (auto* status = dynamic_cast<StatusText*>(widget)) {
        return new StatusInterface(status);
    }
    if (auto* picker = qobject_cast<QComboBox*>(widget); picker && !picker->isEditable()) {
        return pickerInterface(picker);
    }
    const QVariant role = widget->property(roleProperty);
    return role.isValid() ? new QAccessibleWidget(widget, QAccessible::Role(role.toInt()))
                          : nullptr;
}

} // namespace

void setAccessibleRole(QWidget* widget, QAccessible::Role role) {
    widget->setProperty(roleProperty, int(role));
}

void installControlInterfaces() {
    static const bool installed = [] {
        QAccessible::installFactory(controlInterface);
        maskSecretText();
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace quillo
