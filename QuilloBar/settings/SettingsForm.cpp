// How the settings view is built: the header, the form's sections in their
// order, and the footer. What the controls do is in SettingsView.cpp.

#include "QuilloBar/settings/SettingsModel.h"
#include "QuilloBar/settings/SettingsView.h"
#include "QuilloBar/widgets/Controls.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace quillo {
namespace {

// Layout, in device-independent pixels.
constexpr int headerSide = 26;
constexpr int wordmarkShift = 11;
constexpr int formSide = 14;
constexpr int controlWidth = 236;

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
    // The area itself is no control: Tab goes straight to the form's first one.
    scroll->setFocusPolicy(Qt::NoFocus);
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
    form_ = content;
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

} // namespace quillo
