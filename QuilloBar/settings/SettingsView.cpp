#include "QuilloBar/settings/SettingsView.h"

#include "QuilloBar/settings/SettingsModel.h"
#include "QuilloBar/widgets/Controls.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollArea>
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

// Font sizes relative to the body font.
constexpr qreal calloutScale = 0.92;
constexpr qreal footnoteScale = 0.85;

} // namespace

SettingsView::SettingsView(SettingsModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    initSettingsResources();
    installControlInterfaces();
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    header_ = buildHeader();
    layout->addWidget(header_);
    layout->addWidget(buildForm(), 1);
    footer_ = buildFooter();
    layout->addWidget(footer_);
    connectControls();
    for (QWidget* control : std::initializer_list<QWidget*>{
             unlock_, replace_, key_, printer_, pages_, display_, webhook_, previewImage_, origin_,
             openQueue_, menuButton_}) {
        ringWhenFocused(control);
    }
    applyLook();
    refresh();
}

void SettingsView::setHeaderMenu(QMenu* menu) {
    menuButton_->setMenu(menu);
    menuButton_->setVisible(menu != nullptr);
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
    connect(&model_, &SettingsModel::refused, this, &SettingsView::showRefusal);
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
    dot_->setConnected(connected);
    connection_->setText(connected ? QStringLiteral("Connected to your paper")
                                   : QStringLiteral("Not connected yet"));

    const bool keyIsSaved = model_.keySaved() && !model_.replacingKey();
    // The key field gives way to the saved key's row: so does its focus.
    const bool keyWasFocused = key_->hasFocus();
    savedKeyRow_->setVisible(keyIsSaved);
    unlock_->setVisible(model_.needsUnlock());
    // Both wait for a run or a keyring call in flight: a second click would
    // start a second prompt, or be dropped unseen.
    unlock_->setEnabled(!model_.working());
    save_->setEnabled(!model_.working());
    keyRow_->setVisible(!keyIsSaved);
    newsroomRow_->setVisible(!keyIsSaved);
    if (keyWasFocused && keyIsSaved) {
        focusFirstControl();
    }
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
    showStatus(model_.status());
}

// A refusal's reason is told with its entry; any other status is spoken as
// it comes, once the window is there to be read.
void SettingsView::showStatus(const QString& status) {
    if (status == status_->text()) {
        return;
    }
    status_->setText(status);
    if (status == refusal_) {
        return;
    }
    clearRefusal();
    if (!status.isEmpty() && isVisible()) {
        status_->announce();
    }
}

void SettingsView::showRefusal(FormField field, const QString& message) {
    clearRefusal();
    QWidget* entry = entryFor(field);
    if (entry == nullptr) {
        return;
    }
    refusal_ = message;
    refused_ = entry;
    entry->setAccessibleDescription(message);
    entry->setFocus(Qt::OtherFocusReason);
}

void SettingsView::clearRefusal() {
    if (refused_ != nullptr) {
        refused_->setAccessibleDescription(QString());
    }
    refused_ = nullptr;
    refusal_.clear();
}

// Where the reader mends what `field` holds: a saved key is mended by
// unlocking or replacing it, the service address behind "Advanced".
QWidget* SettingsView::entryFor(FormField field) {
    switch (field) {
    case FormField::key:
        return firstShown({key_, unlock_, replace_});
    case FormField::printer:
        return printer_;
    case FormField::webhook:
        return webhook_;
    case FormField::origin:
        advanced_->setChecked(true);
        return origin_;
    case FormField::none:
        break;
    }
    return nullptr;
}

QWidget* SettingsView::firstShown(std::initializer_list<QWidget*> controls) const {
    const auto shown = std::find_if(controls.begin(), controls.end(), [this](QWidget* control) {
        return control->isVisibleTo(this) && control->isEnabled();
    });
    return shown == controls.end() ? nullptr : *shown;
}

void SettingsView::focusFirstControl() {
    if (QWidget* first = firstShown({unlock_, replace_, key_})) {
        first->setFocus(Qt::TabFocusReason);
    }
}

QSize SettingsView::sizeHint() const {
    // The whole form without a scroll bar, as far as the screen allows.
    const int form = form_->hasHeightForWidth() ? form_->heightForWidth(windowWidth)
                                                : form_->sizeHint().height();
    int height = header_->sizeHint().height() + form + footer_->sizeHint().height();
    if (const QScreen* shown = screen()) {
        height = std::min(height, shown->availableGeometry().height());
    }
    return {windowWidth, height};
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
    wordmark_->setVisible(wordmark_->hasArtwork());
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

// Return and Enter arrive here when the focused control left them unused: in
// a text field they save, on any other control they act as space does.
void SettingsView::keyPressEvent(QKeyEvent* event) {
    if ((event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) ||
        (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    QWidget* focused = focusWidget();
    if (auto* button = qobject_cast<QAbstractButton*>(focused)) {
        button->click();
    } else if (auto* picker = qobject_cast<QComboBox*>(focused)) {
        picker->showPopup();
    } else if (qobject_cast<QLineEdit*>(focused) != nullptr) {
        save_->click();
    }
}

bool SettingsView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel && qobject_cast<QComboBox*>(watched) != nullptr) {
        event->ignore();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace quillo
