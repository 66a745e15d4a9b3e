// The keyring as desktops have it, through the real delegate and the test
// session's gnome-keyring: a login keyring loaded locked from disk, unlocked
// from outside or through its own prompter, a prompt dismissed, a keyring
// gone or stalled; and the form's buttons while a run or a read is out.
#include "tests/QuilloBar/app/DelegateFixture.h"
#include "tests/QuilloBar/settings/NamedControls.h"
#include "tests/store/PrivateSession.h"

#include <functional>
#include <vector>

namespace quillo {
namespace {

const QString key = QStringLiteral("key");
const QString locked =
    QStringLiteral("Keyring \u201CLogin\u201D is locked \u00B7 choose Unlock\u2026 in Settings");

class KeyringTest : public AppDelegateTest {
protected:
    void TearDown() override {
        session.freezeKeyring(false);
        // The next test's keyring is unlocked, whatever this one left.
        if (!session.unlockFromOutside()) {
            ASSERT_TRUE(session.restartKeyringLocked());
            ASSERT_TRUE(session.unlockFromOutside());
        }
    }

    [[nodiscard]] QAbstractButton* button(const char* name) const {
        return testing::namedButton(*delegate->settingsWindow(), name);
    }

    testing::PrivateSession& session = testing::applicationSession();
};

// An authorized build whose login keyring is locked says so, and connects by
// itself once a login manager unlocks it: the form loses "Unlock…" and a
// check runs, with nothing asked of the reader.
TEST_F(KeyringTest, LockedAtLaunchIsNamedAndFollowedUntilUnlockedElsewhere) {
    storeSecrets(key, hook);
    ASSERT_TRUE(session.restartKeyringLocked());
    launch(delegate->fingerprint(), false, {QStringLiteral("--show-settings")});
    const SettingsModel& form = delegate->form();
    EXPECT_EQ(statuses, QStringList({connect, locked}));
    EXPECT_EQ(std::pair(form.keySaved(), form.needsUnlock()), std::pair(true, true));

    ASSERT_TRUE(session.unlockFromOutside());
    ASSERT_TRUE(QTest::qWaitFor([this] { return tool.lines("calls").contains(download); }, 20000));
    settle();
    EXPECT_EQ(statuses.mid(2),
              QStringList({"Connected \u00B7 automatic delivery off", checking, readyOff}));
    EXPECT_EQ(std::pair(form.keySaved(), form.needsUnlock()), std::pair(true, false));
    EXPECT_EQ(delegate->keyring().webhook(), hook);
}

// "Unlock…" of a key that no earlier authorization recorded (configure
// mode's), for each state of the keyring: the line it ends in and whether the
// saved-key row keeps "Unlock…" (all but the accepted prompt's do). While a
// read is out the form waits and a second click starts nothing. Columns: the
// line, the keyring's state, the prompt's answer (none: no prompt).
TEST_F(KeyringTest, EachKeyringStateEndsInItsOwnLine) {
    const auto lockedOnDisk = [this] { return session.restartKeyringLocked(); };
    const std::vector<std::tuple<QString, std::function<bool()>, std::optional<bool>>> cases{
        {"Connection authorized", lockedOnDisk, true},
        {"Keyring \u201CLogin\u201D stays locked \u00B7 choose Unlock\u2026 to try again",
         lockedOnDisk, false},
        {"Could not read your key: No keyring service is running on this desktop",
         [this] { return session.stopKeyring(), true; }, std::nullopt},
        {"Could not read your key: The keyring did not answer in time",
         [this] { return session.freezeKeyring(true), true; }, std::nullopt},
    };
    for (const auto& [line, before, answer] : cases) {
        SCOPED_TRACE(line.toStdString());
        if (answer && !session.startPrompter()) {
            continue; // no X display for the keyring's prompter
        }
        ASSERT_TRUE(session.restartKeyringLocked() && session.unlockFromOutside());
        storeSecrets(key, hook);
        QFile::remove(preferencesFile);
        makeDelegate();
        delegate->showSettings();
        settle();
        SettingsModel& form = delegate->form();
        ASSERT_TRUE(before());
        form.unlock();
        EXPECT_FALSE(button("Save")->isEnabled());
        form.unlock();
        if (answer) {
            EXPECT_TRUE(session.answerPrompt(*answer));
        }
        settle();
        session.freezeKeyring(false);
        EXPECT_EQ(statuses.mid(0, 2), QStringList({"Waiting for keyring approval\u2026", line}));
        EXPECT_EQ(std::pair(form.keySaved(), form.needsUnlock()), std::pair(true, answer != true));
        EXPECT_TRUE(button("Save")->isEnabled());
    }
}

// Save writes the keyring off this thread: with the prompt dismissed it ends
// in a message and the typed key stays in the form.
TEST_F(KeyringTest, SaveIntoALockedKeyringKeepsTheTypedKeyWhenRefused) {
    storeSecrets(key, std::nullopt);
    ASSERT_TRUE(session.restartKeyringLocked());
    delegate->showSettings();
    SettingsModel& form = delegate->form();
    form.setReplacingKey(true);
    form.setPrinter(QStringLiteral("Office"));
    form.setKey(QStringLiteral("new-key"));
    for (const bool answer : {false, true}) {
        if (!session.startPrompter()) {
            GTEST_SKIP() << "QUILLO_TEST_DISPLAY names no X server (scripts/test.sh starts Xvfb)";
        }
        form.save();
        EXPECT_TRUE(session.answerPrompt(answer));
        settle();
        EXPECT_EQ(form.key(), answer ? QString() : QStringLiteral("new-key"));
    }
    EXPECT_EQ(statuses.mid(0, 2), QStringList({"Saving to your keyring\u2026",
                                               "Could not save: The keyring is locked"}));
    EXPECT_EQ(Vault::lookup(SecretAccount::deliveryKey, false).value, QStringLiteral("new-key"));
}

// Save and "Unlock…" wait for a run; a tray host that appears while the form
// holds an unsaved edit restarts the agent only once the edit is gone.
TEST_F(KeyringTest, ButtonsWaitForARunAndALateTrayHostWaitsForTheEdits) {
    int restarts = 0;
    QObject::connect(delegate.get(), &AppDelegate::restartRequested, [&restarts] { ++restarts; });
    holdSecrets(key, std::nullopt);
    tool.hold(download);
    delegate->runAgent(false);
    delegate->showSettings();
    delegate->form().setNeedsUnlock(true);
    EXPECT_FALSE(button("Save")->isEnabled());
    EXPECT_FALSE(button("Unlock\u2026")->isEnabled());
    delegate->form().setKey(QStringLiteral("typed"));
    delegate->trayHostAppeared();
    tool.release();
    settle();
    EXPECT_TRUE(button("Save")->isEnabled());
    EXPECT_TRUE(button("Unlock\u2026")->isEnabled());
    QTest::qWait(50);
    EXPECT_EQ(restarts, 0);
    delegate->form().setKey(QString());
    QTest::qWait(50);
    EXPECT_EQ(restarts, 1);
}

} // namespace
} // namespace quillo
