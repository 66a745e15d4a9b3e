// The settings window's pieces: the save rules, the login item, the printer
// listing, and the real window driven offscreen.
#include "QuilloBar/desktop/LoginItem.h"
#include "QuilloBar/desktop/PrinterList.h"
#include "QuilloBar/settings/SettingsModel.h"
#include "QuilloBar/settings/SettingsRules.h"
#include "QuilloBar/settings/SettingsWindow.h"
#include "agent/Command.h"
#include "tests/QuilloBar/settings/NamedControls.h"
#include "tests/support/FixturePdf.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace quillo {
namespace {

using enum DeliveryDestination;
using enum DisplayModel;

const QString webhook = QStringLiteral("https://trmnl.com/api/plugin_settings/8c2f/image");

// Each row edits a complete form; two problems at once report the first. A
// form that passes is stored without blanks, slashes or pages out of range.
TEST(SettingsRules, SaveReportsTheFirstProblemOrNormalisesTheForm) {
    using F = SaveInput;
    using namespace SaveMessage;
    const QLatin1StringView passes;
    const std::vector<std::pair<std::function<void(F&)>, QLatin1StringView>> cases{
        {[](F& f) { f.origin = "https://quillo.news/feed"; }, badOrigin},
        {[](F& f) { f.origin = "https://me@quillo.news"; }, badOrigin},
        {[](F& f) { f.printer = ""; }, noPrinter},
        {[](F& f) { f.printer = "", f.destination = display; }, passes},
        {[](F& f) { f.webhook = "https://usetrmnl.com/api/p/8c2f/image?v=2"; }, passes},
        {[](F& f) { f.webhook = "https://trmnl.com.example.net/api/x"; }, badWebhook},
        {[](F& f) { f.webhook = "https://evil-trmnl.com/api/x"; }, badWebhook},
        {[](F& f) { f.webhook = "https://trmnl.com:8443/api/x"; }, badWebhook},
        {[](F& f) { f.webhook = "https://trmnl.com/api/"; }, badWebhook},
        {[](F& f) { f.webhook = "https://trmnl.com/api/x\\y"; }, badWebhook},
        // 2048 and 2049 user-perceived characters, the most of them of two code points.
        {[](F& f) { f.webhook = webhook.left(22) + QString("e\u0301").repeated(2026); }, passes},
        {[](F& f) { f.webhook = webhook.left(22) + QString("e\u0301").repeated(2027); },
         badWebhook},
        {[](F& f) { f.webhook = "", f.heldWebhook = "https://trmnl.com/api/x"; }, passes},
        {[](F& f) { f.webhook = ""; }, badWebhook},
        {[](F& f) { f.webhook = "x", f.destination = printer; }, passes},
        {[](F& f) { f.key = QString(1024, u'k'); }, passes},
        {[](F& f) { f.key = QString(1025, u'k'); }, badKey},
        {[](F& f) { f.key = "cl\u00e9"; }, badKey},
        {[](F& f) { f.key = ""; }, noKey},
        {[](F& f) { f.key = "", f.heldDeliveryKey = "key-0"; }, passes},
        {[](F& f) { f.webhook = "x", f.key = "a b"; }, badWebhook},
    };
    for (std::size_t row = 0; row < cases.size(); ++row) {
        SaveInput form{"https://quillo.news", both, og, webhook, "key-1", 3, "Office"};
        cases[row].first(form);
        const auto outcome = checkSave(form);
        const auto* refusal = std::get_if<SaveRefusal>(&outcome);
        EXPECT_EQ(refusal != nullptr ? refusal->message : QString(), QString(cases[row].second))
            << "row " << row;
    }

    SaveInput form{" https://Quillo.News:8443/ ", both, x, "\t" + webhook, "k", 0, "P"};
    for (const auto& [pages, stored] : {std::pair{0, 1}, {9, 4}}) {
        form.maxPages = pages;
        const auto save = std::get<ValidatedSave>(checkSave(form));
        EXPECT_EQ(std::tuple(save.origin, save.typedWebhook, save.pageCount),
                  std::tuple(QStringLiteral("https://quillo.news:8443"), webhook, stored));
    }
}

// Against stored settings: automatic on, printer "Office", 3 pages, og. The
// privacy warning goes with every destination that feeds the display.
TEST(SettingsRules, TurningOnAsksWhenWhatIsDeliveredChanges) {
    using S = ValidatedSave;
    using D = StoredDelivery;
    const std::vector<std::pair<std::function<void(S&, D&)>, bool>> cases{
        {[](S&, D& d) { d.automatic = false; }, true},
        {[](S& s, D&) { s.automatic = false; }, false},
        {[](S& s, D&) { s.pageCount = 2; }, true},
        {[](S& s, D&) { s.display = x; }, false},
        {[](S& s, D&) { s.destination = both; }, true},
        {[](S& s, D&) { s.typedKey = "k"; }, true},
        {[](S& s, D& d) { s.destination = d.destination = display, s.display = x; }, true},
        {[](S& s, D& d) { s.destination = d.destination = display, s.pageCount = 1; }, false},
    };
    for (std::size_t row = 0; row < cases.size(); ++row) {
        ValidatedSave save{"https://quillo.news", printer, og, {}, {}, 3, "Office", true};
        StoredDelivery stored{true, printer, "https://quillo.news", "Office", 3, og};
        cases[row].first(save, stored);
        EXPECT_EQ(needsTurnOnConfirmation(save, stored), cases[row].second) << "row " << row;
    }
    EXPECT_TRUE(TurnOnAlert::details(both).contains(u"uploaded to TRMNL"));
}

// GLib's desktop entry launcher, as GNOME's session uses it, runs the program
// at an awkward path; an entry hidden or switched off is no login item.
TEST(LoginItem, EntryRunsThroughGioAndIsSkippedOrRemoved) {
    // GLib's launcher cannot run a path with "%" at all, so the field-code
    // escape is checked as text.
    EXPECT_EQ(desktopExecValue(QStringLiteral("/opt/100%/quillo-bar")),
              QStringLiteral("/opt/100%%/quillo-bar"));
    const QTemporaryDir config;
    const QString folder = config.filePath(QStringLiteral("My Apps (2) a$b`c\"d\\e'f~;&|*?#<>"));
    const QString program = folder + QStringLiteral("/quillo-bar");
    const QString marker = config.filePath(QStringLiteral("ran"));
    ASSERT_TRUE(QDir().mkpath(folder));
    testing::writeProgram(program, "#!/bin/sh\nprintf %s \"$0\" > '" + marker.toUtf8() + "'\n");
    const LoginItem item(config.filePath(QStringLiteral("autostart")));
    item.registerItem(program);
    const auto launch =
        command(QStringLiteral("/usr/bin/gio"), {QStringLiteral("launch"), item.entryPath()});
    ASSERT_EQ(launch.exitStatus, 0) << launch.output.toStdString();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return testing::readFile(marker) == program.toUtf8(); }, 10000));

    const QByteArray entry = testing::readFile(item.entryPath());
    for (const char* skip : {"Hidden=true", "Hidden = true", "X-GNOME-Autostart-enabled=false"}) {
        testing::writeFile(item.entryPath(), entry + skip + '\n');
        EXPECT_FALSE(item.isEnabled(program)) << skip;
    }
    testing::writeFile(item.entryPath(), entry + "[Desktop Action Other]\nHidden=true\n");
    EXPECT_TRUE(item.isEnabled(program));

    // An entry of a moved or other copy is no login item of this one: turning
    // it on rewrites it, turning it off removes it.
    const QString moved = program + QStringLiteral("-old");
    item.registerItem(moved);
    EXPECT_FALSE(item.isEnabled(program));
    item.setEnabled(true, program);
    EXPECT_EQ(testing::readFile(item.entryPath()), entry);
    item.registerItem(moved);
    item.setEnabled(false, program);
    EXPECT_FALSE(QFile::exists(item.entryPath()));
}

// CUPS translates the word "printer"; a German desktop must still see its
// queues. Only lines that start with the word, after spaces, name one.
TEST(PrinterList, NamesTheQueueOfEachPrinterLineInTheUntranslatedLocale) {
    const QTemporaryDir folder;
    const QString lpstat = folder.filePath(QStringLiteral("lpstat"));
    testing::writeProgram(lpstat, "#!/bin/sh\n[ \"$*\" = -p ] || exit 2\n"
                                  "[ \"$LC_ALL\" = C ] || exec echo 'Drucker Office ist frei.'\n"
                                  "printf 'printer Office is idle.  enabled since Mon\\n\\n"
                                  "   printer   B\u00fcro idle\\nprinter \\n\\tprinter Lab\\n'\n");
    const QByteArray locale = qgetenv("LC_ALL");
    qputenv("LC_ALL", "de_DE.UTF-8");
    EXPECT_EQ(listPrinters(lpstat), QStringList({"Office", "B\u00fcro"}));
    locale.isNull() ? qunsetenv("LC_ALL") : qputenv("LC_ALL", locale);
}

// Controls are found by accessible name, text set and toggles pressed through
// their accessibility interfaces, the way assistive technology drives them.
// Redrawing the window from the model keeps the reader's cursor and never
// writes back; Enter saves.
TEST(SettingsView, EveryControlIsNamedAndBoundToTheModel) {
    SettingsModel model;
    SettingsWindow window{model};
    const auto control = [&window](const QString& name) {
        const auto found = testing::namedControls(window, name);
        EXPECT_EQ(found.size(), 1) << name.toStdString();
        return found.value(0);
    };
    // The control's first action, as assistive technology takes it: toggling
    // a checkable one, pressing (a click after a short animation) any other.
    const auto act = [&control](const QString& name) {
        QAccessibleInterface* face = control(name);
        ASSERT_NE(face, nullptr);
        face->actionInterface()->doAction(face->actionInterface()->actionNames().value(0));
        const auto* button = qobject_cast<QAbstractButton*>(face->object());
        EXPECT_TRUE(QTest::qWaitFor([button] { return !button->isDown(); }));
    };
    int saves = 0;
    model.save = [&saves] { ++saves; };
    model.setPrinters({QStringLiteral("Office"), QStringLiteral("Lab")});
    model.setKeySaved(true);
    model.setNeedsUnlock(true);
    model.setDestination(both);
    window.present();
    act(QStringLiteral("Advanced"));
    // The names that Orca's walk and the keyring's tests do not read.
    for (const char* name : {"Unlock\u2026", "Both", "Open printer queue"}) {
        EXPECT_NE(control(QString::fromUtf8(name)), nullptr);
    }
    const auto printers = testing::namedControls(window, QStringLiteral("Printer"));
    ASSERT_EQ(printers.size(), 2); // destination, then the picker
    auto* picker = qobject_cast<QComboBox*>(printers[1]->object());
    EXPECT_TRUE(testing::namedControls(window, QStringLiteral("Delivery key")).isEmpty());

    act(QStringLiteral("Replace"));
    auto* key = qobject_cast<QLineEdit*>(control(QStringLiteral("Delivery key"))->object());
    QTest::keyClicks(key, QStringLiteral("k-1"));
    key->setCursorPosition(1);
    model.setStatus(QStringLiteral("Saved \u00B7 automatic delivery off"));
    EXPECT_EQ(key->cursorPosition(), 1);
    QTest::keyClick(key, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(saves, 1);
    control(QStringLiteral("Service"))->setText(QAccessible::Value, QStringLiteral("https://s"));
    act(QStringLiteral("Deliver new issues automatically"));
    act(QStringLiteral("E-ink"));
    EXPECT_EQ(std::tuple(model.key(), model.origin(), model.automatic(), model.destination()),
              std::tuple(QString("k-1"), QString("https://s"), true, display));
    EXPECT_TRUE(testing::namedControls(window, QStringLiteral("Pages")).isEmpty());

    model.setDestination(printer);
    picker->setCurrentIndex(2);
    EXPECT_EQ(model.printer(), QStringLiteral("Lab"));
    model.setPrinters({QStringLiteral("Office")});
    EXPECT_EQ(picker->currentText(), QStringLiteral("Choose a printer"));
    EXPECT_EQ(model.printer(), QStringLiteral("Lab"));
    model.setKey(QString());
    EXPECT_TRUE(key->text().isEmpty());
}

} // namespace
} // namespace quillo
