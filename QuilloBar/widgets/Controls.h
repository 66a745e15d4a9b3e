// The settings window's own controls, drawn from whatever palette is in
// force: cards of rows, a switch, a segmented control, a disclosure, link and
// prominent buttons, the status text, the connection dot and the wordmark.
// Each is a plain Qt button or widget underneath, so keyboard and assistive
// technology treat it as the control it looks like.
#pragma once

#include "QuilloBar/widgets/Accessibility.h"
#include "QuilloBar/widgets/Palette.h"

#include <QAbstractButton>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSvgRenderer>

class QHBoxLayout;
class QVBoxLayout;

namespace quillo {

// A rounded group of rows with a hairline between the rows that are shown.
class Card : public QWidget {
public:
    explicit Card(QWidget* parent);
    QHBoxLayout* addRow(QWidget* row, int height = rowHeight);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* rows_;
};

// A row that toggles its switch when clicked anywhere, like the rows of
// desktop settings panels.
class SwitchRow : public QWidget {
public:
    explicit SwitchRow(QAbstractButton* target) : target_(target) {}

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QAbstractButton* target_;
};

class Switch : public QAbstractButton {
public:
    explicit Switch(QWidget* parent);
    [[nodiscard]] QSize sizeHint() const override { return {40, 24}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A button drawn as a link: accent-coloured text, underlined on hover.
class LinkButton : public QAbstractButton {
public:
    LinkButton(const QString& text, QWidget* parent);
    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// One choice of a segmented control; the group keeps exactly one checked. A
// radio button underneath: one Tab stop, arrow keys move the choice.
class Segment : public QRadioButton {
public:
    Segment(const QString& text, QIcon icon, QWidget* parent);
    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    [[nodiscard]] bool hitButton(const QPoint& point) const override;

private:
    QIcon icon_;
};

// The segments' group, named by the form.
class SegmentTrack : public QWidget {
public:
    explicit SegmentTrack(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A disclosure header: a chevron that turns down when open, then the title.
class Disclosure : public QAbstractButton {
public:
    Disclosure(const QString& text, QWidget* parent);
    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The window's main action, filled with the accent colour.
class ProminentButton : public QPushButton {
public:
    ProminentButton(const QString& text, QWidget* parent);
    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The status: whole to assistive technology, on screen its own line breaks
// kept and at most two lines, the second cut with an ellipsis.
class StatusText : public QLabel {
public:
    static constexpr int maxLines = 2;

    explicit StatusText(QWidget* parent);
    // Has screen readers speak the status, as a notification would be, once
    // the changes of this turn of the event loop are done: a reader reads the
    // text when the event reaches it, so each spoken status must still be shown.
    void announce();
    // The lines drawn at the present width.
    [[nodiscard]] QStringList visibleLines() const;
    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override { return {40, sizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool announcing_ = false;
};

class ConnectionDot : public QWidget {
public:
    explicit ConnectionDot(QWidget* parent);
    void setConnected(bool connected);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool connected_ = false;
};

class Wordmark : public QWidget {
public:
    explicit Wordmark(QWidget* parent);
    [[nodiscard]] bool hasArtwork() const { return artwork().isValid(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    [[nodiscard]] QSvgRenderer& artwork() const { return isDark(palette()) ? dark_ : light_; }

    mutable QSvgRenderer light_;
    mutable QSvgRenderer dark_;
};

// The footer's bar, set off from the form by a hairline.
class FooterBar : public QWidget {
public:
    explicit FooterBar(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quillo
