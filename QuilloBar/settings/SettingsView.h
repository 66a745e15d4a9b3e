// The settings form: a header with the connection line, six sections over the
// settings model and a footer with the status and Save. It draws everything
// from the model after every change and writes every edit straight into it;
// it keeps no form state of its own and validates nothing.
#pragma once

#include "QuilloBar/settings/SettingsRules.h"

#include <QPointer>
#include <QSize>
#include <QStringList>
#include <QWidget>

class QAbstractButton;
class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolButton;

namespace quillo {

class ConnectionDot;
class SettingsModel;
class StatusText;
class Wordmark;

class SettingsView : public QWidget {
    Q_OBJECT

public:
    // Fixed, in device-independent pixels; the height follows the form.
    static constexpr int windowWidth = 480;

    explicit SettingsView(SettingsModel& model, QWidget* parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override;

    // Focuses the form's first control: the key field, or the saved key's buttons.
    void focusFirstControl();

    // For desktops without a tray: the header shows a button that opens
    // `menu`. Null hides it. The view does not own the menu.
    void setHeaderMenu(QMenu* menu);

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildForm();
    QWidget* buildFooter();
    QWidget* buildPaperSection();
    QWidget* buildDestinationSection();
    QWidget* buildPrintingSection();
    QWidget* buildDisplaySection();
    QWidget* buildTogglesSection();
    QWidget* buildAdvancedSection();
    void connectControls();

    // Brings every control to the model's values without writing back.
    void refresh();
    void refreshPrinters();
    void showStatus(const QString& status);
    // Moves focus to the entry at fault and describes it with the reason.
    void showRefusal(FormField field, const QString& message);
    void clearRefusal();
    QWidget* entryFor(FormField field);
    [[nodiscard]] QWidget* firstShown(std::initializer_list<QWidget*> controls) const;
    // Fonts and colours derived from the palette and the font in force.
    void applyLook();

    SettingsModel& model_;
    bool refreshing_ = false;
    // The entry a refused Save described, and why.
    QPointer<QWidget> refused_;
    QString refusal_;

    QWidget* header_ = nullptr;
    QWidget* form_ = nullptr;
    QWidget* footer_ = nullptr;
    QStringList shownPrinters_;

    Wordmark* wordmark_ = nullptr;
    ConnectionDot* dot_ = nullptr;
    QLabel* connection_ = nullptr;
    QToolButton* menuButton_ = nullptr;

    QWidget* savedKeyRow_ = nullptr;
    QLabel* keyIcon_ = nullptr;
    QPushButton* unlock_ = nullptr;
    QPushButton* replace_ = nullptr;
    QWidget* keyRow_ = nullptr;
    QLineEdit* key_ = nullptr;
    QWidget* newsroomRow_ = nullptr;
    QAbstractButton* newsroom_ = nullptr;

    QButtonGroup* destinations_ = nullptr;

    QWidget* printingSection_ = nullptr;
    QComboBox* printer_ = nullptr;
    QComboBox* pages_ = nullptr;

    QWidget* displaySection_ = nullptr;
    QComboBox* display_ = nullptr;
    QLineEdit* webhook_ = nullptr;
    QAbstractButton* displayGuide_ = nullptr;
    QPushButton* previewImage_ = nullptr;

    QAbstractButton* automatic_ = nullptr;
    QAbstractButton* launchAtLogin_ = nullptr;

    QAbstractButton* advanced_ = nullptr;
    QWidget* serviceRow_ = nullptr;
    QLineEdit* origin_ = nullptr;
    QWidget* queueRow_ = nullptr;
    QPushButton* openQueue_ = nullptr;

    StatusText* status_ = nullptr;
    QPushButton* save_ = nullptr;

    QList<QLabel*> secondaryLabels_;
    QList<QLabel*> footnotes_;
    QList<QLabel*> sectionHeaders_;
};

} // namespace quillo
