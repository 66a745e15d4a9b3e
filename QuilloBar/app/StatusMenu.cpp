#include "QuilloBar/app/StatusMenu.h"

#include "QuilloBar/settings/UserText.h"

#include <QMenu>

namespace quillo {
namespace {

constexpr qsizetype statusTitleLimit = 90;

} // namespace

StatusMenu::StatusMenu(QObject* parent) : QObject(parent), menu_(std::make_unique<QMenu>()) {
    // The items stay and only their titles and states change, so a menu that
    // is open while a run ends keeps its place instead of being rebuilt under
    // the pointer.
    status_ = menu_->addAction(QString());
    status_->setEnabled(false);
    menu_->addSeparator();
    readLatestIssue_ =
        menu_->addAction(QStringLiteral("Read latest issue"), this, &StatusMenu::readLatestIssue);
    syncNow_ = menu_->addAction(QStringLiteral("Sync now\u2026"), this, &StatusMenu::syncNow);
    menu_->addSeparator();
    menu_->addAction(QStringLiteral("Settings\u2026"), this, &StatusMenu::showSettings);
    menu_->addAction(QStringLiteral("Open Quillo"), this, &StatusMenu::openSite);
    menu_->addSeparator();
    menu_->addAction(QStringLiteral("Quit Quillo"), this, &StatusMenu::quit);
    show({});
}

StatusMenu::~StatusMenu() {
    // The tray's exported copy of each item goes only when its action leaves
    // the menu; a menu destroyed whole would leave them behind.
    menu_->clear();
}

void StatusMenu::show(const MenuState& state) {
    status_->setText(statusTitle(state.status));
    readLatestIssue_->setEnabled(state.cachedIssue);
    syncNow_->setEnabled(!state.busy && state.keyUnlocked);
}

QString StatusMenu::statusTitle(const QString& status) {
    QString title = leadingCharacters(status, statusTitleLimit);
    // A tab would start a shortcut column and a line break a second line.
    for (QChar& character : title) {
        if (character == u'\t' || character == u'\n' || character == u'\r') {
            character = u' ';
        }
    }
    return title.replace(u'&', QStringLiteral("&&"));
}

} // namespace quillo
