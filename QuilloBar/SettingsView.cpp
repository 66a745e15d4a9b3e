#include "QuilloBar/SettingsView.h"

#include "QuilloBar/SettingsModel.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollArea>
#include <QSvgRenderer>
#include <QTextLayout>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

// The resources live in a static library; nothing else would pull them in.
static void initSettingsResources() {
    Q_INIT_RESOURCE(settings);
}

namespace quillo {
namespace {

// Layout, in device-independent pixels.
constexpr int headerSide = 26;
constexpr int wordmarkShift = 11;
constexpr QSize wordmarkSize{158, 40};
constexpr int formSide = 14;
constexpr int rowSide = 12;
constexpr int rowHeight = 40;
constexpr int controlWidth = 236;
constexpr int cardRadius = 8;
constexpr int iconSide = 16;

// Font sizes relative to the body font.
constexpr qreal calloutScale = 0.92;
constexpr qreal footnoteScale = 0.85;

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

// Theme icons come in the theme's own colours, which may vanish on the
// palette in force; the form draws them in its text colour instead.
QPixmap tinted(const QIcon& icon, qreal ratio, const QColor& color) {
    QPixmap pixmap = icon.pixmap(QSize(iconSide, iconSide), ratio);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    return pixmap;
}

void drawFocusRing(QPainter& painter, const QRectF& box, qreal radius, const QPalette& palette) {
    QColor ring = palette.color(QPalette::Highlight);
    ring.setAlphaF(0.75);
    painter.setPen(QPen(ring, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(box.adjusted(1, 1, -1, -1), radius, radius);
}

void setInk(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

// A rounded group of rows with a hairline between the rows that are shown.
class Card : public QWidget {
public:
    explicit Card(QWidget* parent) : QWidget(parent), rows_(new QVBoxLayout(this)) {
        rows_->setContentsMargins(0, 0, 0, 0);
        rows_->setSpacing(0);
    }

    QHBoxLayout* addRow(QWidget* row, int height = rowHeight) {
        row->setParent(this);
        row->setMinimumHeight(height);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(rowSide, 6, rowSide, 6);
        layout->setSpacing(8);
        rows_->addWidget(row);
        return layout;
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(hairline(palette()));
        painter.setBrush(cardFill(palette()));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cardRadius,
                                cardRadius);
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

private:
    QVBoxLayout* rows_;
};

// A row that toggles its switch when clicked anywhere, like the rows of
// desktop settings panels.
class SwitchRow : public QWidget {
public:
    explicit SwitchRow(QAbstractButton* target) : target_(target) {}

protected:
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (rect().contains(event->position().toPoint())) {
            target_->toggle();
        }
    }

private:
    QAbstractButton* target_;
};

class Switch : public QAbstractButton {
public:
    explicit Switch(QWidget* parent) : QAbstractButton(parent) {
        setCheckable(true);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    [[nodiscard]] QSize sizeHint() const override { return {40, 24}; }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
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
};

// A button drawn as a link: accent-coloured text, underlined on hover.
class LinkButton : public QAbstractButton {
public:
    LinkButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
        setText(text);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    [[nodiscard]] QSize sizeHint() const override {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(text()) + 6, metrics.height() + 8};
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
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
};

// One choice of a segmented control; the group keeps exactly one checked.
class Segment : public QAbstractButton {
public:
    Segment(const QString& text, QIcon icon, QWidget* parent)
        : QAbstractButton(parent), icon_(std::move(icon)) {
        setText(text);
        setCheckable(true);
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    [[nodiscard]] QSize sizeHint() const override {
        const QFontMetrics metrics(font());
        return {iconSide + 6 + metrics.horizontalAdvance(text()) + 24,
                std::max(28, metrics.height() + 12)};
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
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

private:
    QIcon icon_;
};

class SegmentTrack : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(trackFill(palette()));
        painter.drawRoundedRect(QRectF(rect()), 8, 8);
    }
};

// A disclosure header: a chevron that turns down when open, then the title.
class Disclosure : public QAbstractButton {
public:
    Disclosure(const QString& text, QWidget* parent) : QAbstractButton(parent) {
        setText(text);
        setCheckable(true);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    [[nodiscard]] QSize sizeHint() const override {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(text()) + 24, metrics.height() + 8};
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
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
        painter.setPen(
            QPen(secondaryInk(palette()), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(chevron);
        painter.setPen(ink(palette()));
        painter.drawText(rect().adjusted(18, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, text());
        if (hasFocus()) {
            drawFocusRing(painter, rect(), 4, palette());
        }
    }
};

// The window's main action, filled with the accent colour.
class ProminentButton : public QPushButton {
public:
    ProminentButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
        setAttribute(Qt::WA_Hover);
        setFocusPolicy(Qt::TabFocus);
    }
    [[nodiscard]] QSize sizeHint() const override {
        const QFontMetrics metrics(font());
        return {std::max(96, metrics.horizontalAdvance(text()) + 44),
                std::max(34, metrics.height() + 16)};
    }
    [[nodiscard]] QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
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
};

// The status: whole to assistive technology, at most two lines on screen,
// the second cut with an ellipsis.
class StatusText : public QLabel {
public:
    explicit StatusText(QWidget* parent) : QLabel(parent) {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    }
    [[nodiscard]] QSize sizeHint() const override {
        return {120, 2 * QFontMetrics(font()).lineSpacing()};
    }
    [[nodiscard]] QSize minimumSizeHint() const override { return {40, sizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
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

private:
    [[nodiscard]] QStringList visibleLines() const {
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
};

class ConnectionDot : public QWidget {
public:
    explicit ConnectionDot(QWidget* parent) : QWidget(parent) { setFixedSize(7, 7); }
    void setConnected(bool connected) {
        if (connected != connected_) {
            connected_ = connected;
            update();
        }
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill =
            connected_ ? (isDark(palette()) ? QColor(0x30, 0xd1, 0x58) : QColor(0x28, 0xa7, 0x45))
                       : secondaryInk(palette());
        if (!connected_) {
            fill.setAlphaF(0.5);
        }
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawEllipse(QRectF(rect()));
    }

private:
    bool connected_ = false;
};

class Wordmark : public QWidget {
public:
    explicit Wordmark(QWidget* parent)
        : QWidget(parent), light_(QStringLiteral(":/quillo/Wordmark.svg")),
          dark_(QStringLiteral(":/quillo/Wordmark-dark.svg")) {
        setFixedSize(wordmarkSize);
        setAccessibleName(QStringLiteral("Quillo"));
    }
    [[nodiscard]] bool hasArtwork() const { return artwork().isValid(); }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        artwork().render(&painter, QRectF(rect()));
    }

private:
    [[nodiscard]] QSvgRenderer& artwork() const { return isDark(palette()) ? dark_ : light_; }

    mutable QSvgRenderer light_;
    mutable QSvgRenderer dark_;
};

// The footer's bar, set off from the form by a hairline.
class FooterBar : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        painter.fillRect(rect(), isDark(palette()) ? mix(paper(palette()), ink(palette()), 0.04)
                                                   : mix(paper(palette()),
                                                         palette().color(QPalette::Base), 0.45));
        painter.setPen(hairline(palette()));
        painter.drawLine(0, 0, width(), 0);
    }
};

QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// A labelled control, the control at the right at a common width so that the
// rows of the form line up.
void addLabelledRow(QWidget* row, QHBoxLayout* layout, const QString& text, QWidget* control) {
    QLabel* label = plainLabel(text, row);
    label->setBuddy(control);
    control->setAccessibleName(text);
    control->setFixedWidth(controlWidth);
    layout->addWidget(label);
    layout->addStretch();
    layout->addWidget(control);
}

QLineEdit* secureField(const QString& placeholder) {
    auto* field = new QLineEdit;
    field->setEchoMode(QLineEdit::Password);
    field->setPlaceholderText(placeholder);
    return field;
}

} // namespace

SettingsView::SettingsView(SettingsModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    initSettingsResources();
    setFixedSize(windowSize);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildHeader());
    layout->addWidget(buildForm(), 1);
    layout->addWidget(buildFooter());
    connectControls();
    applyLook();
    refresh();
}

void SettingsView::setHeaderMenu(QMenu* menu) {
    menuButton_->setMenu(menu);
    menuButton_->setVisible(menu != nullptr);
}

QWidget* SettingsView::buildHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    // The wordmark's artwork has its own left margin.
    row->setContentsMargins(headerSide - wordmarkShift, 14, headerSide, 0);
    row->setSpacing(14);
    auto* stack = new QVBoxLayout;
    stack->setSpacing(6);
    wordmark_ = new Wordmark(header);
    stack->addWidget(wordmark_);
    auto* line = new QHBoxLayout;
    line->setContentsMargins(wordmarkShift, 0, 0, 0);
    line->setSpacing(6);
    dot_ = new ConnectionDot(header);
    connection_ = plainLabel(QString(), header);
    secondaryLabels_.append(connection_);
    line->addWidget(dot_, 0, Qt::AlignVCenter);
    line->addWidget(connection_, 1);
    stack->addLayout(line);
    row->addLayout(stack);
    row->addStretch();
    menuButton_ = new QToolButton(header);
    menuButton_->setPopupMode(QToolButton::InstantPopup);
    menuButton_->setAutoRaise(true);
    menuButton_->setAccessibleName(QStringLiteral("Menu"));
    menuButton_->setToolTip(QStringLiteral("Menu"));
    menuButton_->setFixedSize(30, 30);
    menuButton_->hide();
    row->addWidget(menuButton_, 0, Qt::AlignTop);
    return header;
}

QWidget* SettingsView::buildForm() {
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    auto* content = new QWidget;
    auto* sections = new QVBoxLayout(content);
    sections->setContentsMargins(formSide, 14, formSide, 4);
    sections->setSpacing(0);
    for (QWidget* section :
         {buildPaperSection(), buildDestinationSection(), buildPrintingSection(),
          buildDisplaySection(), buildTogglesSection(), buildAdvancedSection()}) {
        sections->addWidget(section);
    }
    sections->addStretch();
    scroll->setWidget(content);
    // The window's background shows through the whole form.
    content->setAutoFillBackground(false);
    return scroll;
}

namespace {

struct Section {
    QWidget* widget;
    QVBoxLayout* layout;
    Card* card;
};

Section newSection(const QString& header, QList<QLabel*>& headers) {
    auto* widget = new QWidget;
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 18);
    layout->setSpacing(6);
    if (!header.isEmpty()) {
        QLabel* label = plainLabel(header, widget);
        label->setContentsMargins(rowSide, 0, rowSide, 0);
        headers.append(label);
        layout->addWidget(label);
    }
    auto* card = new Card(widget);
    layout->addWidget(card);
    return {widget, layout, card};
}

QLabel* addFootnote(const Section& section, const QString& text, QList<QLabel*>& footnotes) {
    QLabel* note = plainLabel(text, section.widget);
    note->setWordWrap(true);
    note->setContentsMargins(rowSide, 0, rowSide, 0);
    footnotes.append(note);
    section.layout->addWidget(note);
    return note;
}

} // namespace

QWidget* SettingsView::buildPaperSection() {
    const Section section = newSection(QStringLiteral("Your paper"), sectionHeaders_);
    savedKeyRow_ = new QWidget;
    QHBoxLayout* saved = section.card->addRow(savedKeyRow_);
    keyIcon_ = new QLabel(savedKeyRow_);
    keyIcon_->setFixedSize(iconSide, iconSide);
    QLabel* savedText =
        plainLabel(QStringLiteral("Delivery key saved in your keyring"), savedKeyRow_);
    savedText->setWordWrap(true);
    unlock_ = new QPushButton(QStringLiteral("Unlock\u2026"), savedKeyRow_);
    replace_ = new QPushButton(QStringLiteral("Replace"), savedKeyRow_);
    saved->addWidget(keyIcon_);
    saved->addWidget(savedText, 1);
    saved->addWidget(unlock_);
    saved->addWidget(replace_);

    keyRow_ = new QWidget;
    key_ = secureField(QStringLiteral("Paste it from your newsroom"));
    addLabelledRow(keyRow_, section.card->addRow(keyRow_), QStringLiteral("Delivery key"), key_);

    newsroomRow_ = new QWidget;
    QHBoxLayout* link = section.card->addRow(newsroomRow_, 34);
    newsroom_ = new LinkButton(QStringLiteral("Get a key in your newsroom \u2197"), newsroomRow_);
    link->addStretch();
    link->addWidget(newsroom_);
    return section.widget;
}

QWidget* SettingsView::buildDestinationSection() {
    const Section section = newSection(QStringLiteral("Deliver to"), sectionHeaders_);
    auto* row = new QWidget;
    QHBoxLayout* layout = section.card->addRow(row, 44);
    layout->setContentsMargins(8, 6, 8, 6);
    auto* track = new SegmentTrack(row);
    track->setAccessibleName(QStringLiteral("Deliver to"));
    auto* segments = new QHBoxLayout(track);
    segments->setContentsMargins(2, 2, 2, 2);
    segments->setSpacing(2);
    destinations_ = new QButtonGroup(this);
    const std::array<QAbstractButton*, 3> choices{
        new Segment(QStringLiteral("Printer"),
                    themeIcon("printer-symbolic", "printer", ":/quillo/icons/printer.svg"), track),
        new Segment(
            QStringLiteral("E-ink"),
            themeIcon("video-display-symbolic", "video-display", ":/quillo/icons/display.svg"),
            track),
        new Segment(QStringLiteral("Both"),
                    themeIcon("view-dual-symbolic", "view-dual", ":/quillo/icons/both.svg"),
                    track)};
    for (int index = 0; index < int(choices.size()); ++index) {
        destinations_->addButton(choices.at(index), index);
        segments->addWidget(choices.at(index));
    }
    layout->addWidget(track);
    return section.widget;
}

QWidget* SettingsView::buildPrintingSection() {
    const Section section = newSection(QStringLiteral("Printing"), sectionHeaders_);
    printingSection_ = section.widget;
    auto* printerRow = new QWidget;
    printer_ = new QComboBox;
    printer_->addItem(QStringLiteral("Choose a printer"), QString());
    addLabelledRow(printerRow, section.card->addRow(printerRow), QStringLiteral("Printer"),
                   printer_);
    auto* pagesRow = new QWidget;
    pages_ = new QComboBox;
    pages_->addItem(QStringLiteral("Front page only"));
    for (int pages = 2; pages <= 4; ++pages) {
        pages_->addItem(QStringLiteral("Up to %1 pages").arg(pages));
    }
    addLabelledRow(pagesRow, section.card->addRow(pagesRow), QStringLiteral("Pages"), pages_);
    return section.widget;
}

QWidget* SettingsView::buildDisplaySection() {
    const Section section = newSection(QStringLiteral("E-ink display"), sectionHeaders_);
    displaySection_ = section.widget;
    auto* displayRow = new QWidget;
    display_ = new QComboBox;
    for (const DisplayModel model : allDisplayModels) {
        const std::string_view shown = name(model);
        display_->addItem(QString::fromUtf8(shown.data(), qsizetype(shown.size())));
    }
    addLabelledRow(displayRow, section.card->addRow(displayRow), QStringLiteral("Display"),
                   display_);
    auto* webhookRow = new QWidget;
    webhook_ = secureField(QString());
    addLabelledRow(webhookRow, section.card->addRow(webhookRow), QStringLiteral("Webhook"),
                   webhook_);
    auto* actionsRow = new QWidget;
    QHBoxLayout* actions = section.card->addRow(actionsRow);
    displayGuide_ = new LinkButton(QStringLiteral("How to connect TRMNL \u2197"), actionsRow);
    previewImage_ = new QPushButton(QStringLiteral("Preview image"), actionsRow);
    actions->addWidget(displayGuide_);
    actions->addStretch();
    actions->addWidget(previewImage_);
    addFootnote(section,
                QStringLiteral("Shows the front page. Its image, including anything private, is "
                               "uploaded to TRMNL\u2019s cloud."),
                footnotes_);
    return section.widget;
}

QWidget* SettingsView::buildTogglesSection() {
    const Section section = newSection(QString(), sectionHeaders_);
    const auto addSwitch = [&section](const QString& text) {
        auto* toggle = new Switch(nullptr);
        auto* row = new SwitchRow(toggle);
        QHBoxLayout* layout = section.card->addRow(row);
        toggle->setParent(row);
        toggle->setAccessibleName(text);
        QLabel* label = plainLabel(text, row);
        label->setBuddy(toggle);
        layout->addWidget(label, 1);
        layout->addWidget(toggle);
        return toggle;
    };
    automatic_ = addSwitch(QStringLiteral("Deliver new issues automatically"));
    launchAtLogin_ = addSwitch(QStringLiteral("Open at login"));
    addFootnote(section,
                QStringLiteral("Checks every five minutes while this computer is awake. An issue "
                               "is never printed twice."),
                footnotes_);
    return section.widget;
}

QWidget* SettingsView::buildAdvancedSection() {
    const Section section = newSection(QString(), sectionHeaders_);
    auto* disclosureRow = new QWidget;
    QHBoxLayout* layout = section.card->addRow(disclosureRow, 36);
    advanced_ = new Disclosure(QStringLiteral("Advanced"), disclosureRow);
    layout->addWidget(advanced_);
    serviceRow_ = new QWidget;
    origin_ = new QLineEdit;
    origin_->setInputMethodHints(Qt::ImhUrlCharactersOnly | Qt::ImhNoAutoUppercase);
    addLabelledRow(serviceRow_, section.card->addRow(serviceRow_), QStringLiteral("Service"),
                   origin_);
    queueRow_ = new QWidget;
    QHBoxLayout* queue = section.card->addRow(queueRow_);
    openQueue_ = new QPushButton(QStringLiteral("Open printer queue"), queueRow_);
    queue->addWidget(openQueue_);
    queue->addStretch();
    serviceRow_->hide();
    queueRow_->hide();
    return section.widget;
}

QWidget* SettingsView::buildFooter() {
    auto* footer = new FooterBar(this);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(headerSide, 16, headerSide, 16);
    row->setSpacing(12);
    status_ = new StatusText(footer);
    secondaryLabels_.append(status_);
    save_ = new ProminentButton(QStringLiteral("Save"), footer);
    save_->setDefault(true);
    row->addWidget(status_, 1);
    row->addWidget(save_);
    return footer;
}

void SettingsView::connectControls() {
    // Actions are copied before the call: one may replace the model's callbacks.
    const auto invoke = [this](SettingsModel::Action SettingsModel::*member) {
        return [this, member] {
            const SettingsModel::Action action = model_.*member;
            action();
        };
    };
    // Edits are bound to textChanged and toggled, which assistive technology
    // triggers too, and never written back while the view redraws.
    const auto bindText = [this](QLineEdit* field, void (SettingsModel::*setter)(const QString&)) {
        connect(field, &QLineEdit::textChanged, this, [this, setter](const QString& text) {
            if (!refreshing_) {
                (model_.*setter)(text);
            }
        });
    };
    const auto bindToggle = [this](QAbstractButton* toggle, void (SettingsModel::*setter)(bool)) {
        connect(toggle, &QAbstractButton::toggled, this, [this, setter](bool on) {
            if (!refreshing_) {
                (model_.*setter)(on);
            }
        });
    };
    const auto bindPicker = [this](QComboBox* picker, std::function<void(int)> write) {
        connect(picker, &QComboBox::currentIndexChanged, this,
                [this, write = std::move(write)](int index) {
                    if (!refreshing_ && index >= 0) {
                        write(index);
                    }
                });
        // The wheel scrolls the form instead of changing a picker under the pointer.
        picker->installEventFilter(this);
    };

    connect(unlock_, &QPushButton::clicked, this, invoke(&SettingsModel::unlock));
    connect(replace_, &QPushButton::clicked, this, [this] {
        model_.setReplacingKey(true);
        key_->setFocus(Qt::OtherFocusReason);
    });
    bindText(key_, &SettingsModel::setKey);
    connect(newsroom_, &QAbstractButton::clicked, this, invoke(&SettingsModel::openNewsroom));
    connect(destinations_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked && !refreshing_) {
            model_.setDestination(allDeliveryDestinations.at(std::size_t(id)));
        }
    });
    bindPicker(printer_,
               [this](int index) { model_.setPrinter(printer_->itemData(index).toString()); });
    bindPicker(pages_, [this](int index) { model_.setMaxPages(index + 1); });
    bindPicker(display_,
               [this](int index) { model_.setDisplay(allDisplayModels.at(std::size_t(index))); });
    bindText(webhook_, &SettingsModel::setWebhook);
    connect(displayGuide_, &QAbstractButton::clicked, this,
            invoke(&SettingsModel::openDisplayGuide));
    connect(previewImage_, &QPushButton::clicked, this, invoke(&SettingsModel::previewDisplay));
    bindToggle(automatic_, &SettingsModel::setAutomatic);
    bindToggle(launchAtLogin_, &SettingsModel::setLaunchAtLogin);
    connect(advanced_, &QAbstractButton::toggled, this, [this](bool open) {
        serviceRow_->setVisible(open);
        queueRow_->setVisible(open);
    });
    bindText(origin_, &SettingsModel::setOrigin);
    connect(openQueue_, &QPushButton::clicked, this, invoke(&SettingsModel::openQueue));
    connect(save_, &QPushButton::clicked, this, invoke(&SettingsModel::save));
    connect(&model_, &SettingsModel::changed, this, &SettingsView::refresh);
}

namespace {

// Sets the text only when it differs, so that the cursor stays where it is.
void showText(QLineEdit* field, const QString& text) {
    if (field->text() != text) {
        field->setText(text);
    }
}

} // namespace

void SettingsView::refresh() {
    const QScopedValueRollback guard(refreshing_, true);
    const bool connected = model_.connected();
    static_cast<ConnectionDot*>(dot_)->setConnected(connected);
    connection_->setText(connected ? QStringLiteral("Connected to your paper")
                                   : QStringLiteral("Not connected yet"));

    const bool keyIsSaved = model_.keySaved() && !model_.replacingKey();
    savedKeyRow_->setVisible(keyIsSaved);
    unlock_->setVisible(model_.needsUnlock());
    keyRow_->setVisible(!keyIsSaved);
    newsroomRow_->setVisible(!keyIsSaved);
    showText(key_, model_.key());

    const DeliveryDestination destination = model_.destination();
    QAbstractButton* chosen = destinations_->button(int(destination));
    if (!chosen->isChecked()) {
        chosen->setChecked(true);
    }
    printingSection_->setVisible(prints(destination));
    displaySection_->setVisible(displays(destination));

    refreshPrinters();
    pages_->setCurrentIndex(std::clamp(model_.maxPages(), 1, 4) - 1);
    display_->setCurrentIndex(int(model_.display()));
    showText(webhook_, model_.webhook());
    webhook_->setPlaceholderText(model_.webhookSaved() ? QStringLiteral("Saved in your keyring")
                                                       : QStringLiteral("TRMNL image webhook URL"));

    automatic_->setChecked(model_.automatic());
    launchAtLogin_->setChecked(model_.launchAtLogin());
    showText(origin_, model_.origin());
    status_->setText(model_.status());
}

void SettingsView::refreshPrinters() {
    if (model_.printers() != shownPrinters_) {
        shownPrinters_ = model_.printers();
        printer_->clear();
        printer_->addItem(QStringLiteral("Choose a printer"), QString());
        for (const QString& name : std::as_const(shownPrinters_)) {
            printer_->addItem(name, name);
        }
    }
    // A name listed twice keeps whichever entry the reader picked.
    if (printer_->currentData().toString() == model_.printer()) {
        return;
    }
    const qsizetype listed =
        model_.printer().isEmpty() ? -1 : shownPrinters_.indexOf(model_.printer());
    printer_->setCurrentIndex(int(listed + 1));
}

void SettingsView::applyLook() {
    const QPalette& colours = palette();
    const QColor secondary = secondaryInk(colours);
    const QFont callout = scaledFont(font(), calloutScale);
    for (QLabel* label : std::as_const(secondaryLabels_)) {
        setInk(label, secondary);
        label->setFont(callout);
    }
    const QFont footnote = scaledFont(font(), footnoteScale);
    for (QLabel* note : std::as_const(footnotes_)) {
        setInk(note, secondary);
        note->setFont(footnote);
    }
    QFont headerFont = font();
    headerFont.setWeight(QFont::DemiBold);
    for (QLabel* header : std::as_const(sectionHeaders_)) {
        setInk(header, mix(ink(colours), paper(colours), 0.15));
        header->setFont(headerFont);
    }
    const qreal ratio = devicePixelRatioF();
    keyIcon_->setPixmap(
        tinted(themeIcon("dialog-password-symbolic", "dialog-password", ":/quillo/icons/key.svg"),
               ratio, ink(colours)));
    menuButton_->setIcon(
        QIcon(tinted(themeIcon("open-menu-symbolic", "application-menu", ":/quillo/icons/menu.svg"),
                     ratio, ink(colours))));
    wordmark_->setVisible(static_cast<Wordmark*>(wordmark_)->hasArtwork());
}

void SettingsView::changeEvent(QEvent* event) {
    // Changes arrive during construction too, before there is anything to restyle.
    const bool built = save_ != nullptr;
    if (built && (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange ||
                  event->type() == QEvent::StyleChange)) {
        applyLook();
    }
    QWidget::changeEvent(event);
}

void SettingsView::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        save_->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool SettingsView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel && qobject_cast<QComboBox*>(watched) != nullptr) {
        event->ignore();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace quillo
