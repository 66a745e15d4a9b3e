// Configure mode end to end through the built executable, against the test
// session's keyring (the real "print-token" account, so these skip outside
// that session) and a preferences store of each test's own.
#include "store/Preferences.h"
#include "store/Vault.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/QuilloBarProcess.h"
#include "tests/support/TestSession.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace quillo {
namespace {

using testing::ProcessOutcome;

class ConfigureModeTest : public testing::KeyringTest {
protected:
    QTemporaryDir configHome;
    QString storePath = configHome.filePath(QString(preferencesFile));

    ProcessOutcome configure(const QByteArray& request, const char* busAddress = nullptr) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
        if (busAddress != nullptr) {
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        }
        return testing::runQuilloBar({QStringLiteral("--configure-stdin")}, request, environment);
    }

    // A reader's earlier settings, which configure mode must overwrite or keep.
    void storeEarlierSettings() {
        Preferences preferences(storePath);
        preferences.setString(PreferenceKey::origin, QStringLiteral("https://earlier.example"));
        preferences.setString(PreferenceKey::printer, QStringLiteral("Earlier_Printer"));
        preferences.setBoolean(PreferenceKey::automatic, true);
        preferences.setInteger(PreferenceKey::maxPages, 4);
        preferences.setString(PreferenceKey::destination, QStringLiteral("both"));
        ASSERT_TRUE(preferences.sync());
    }

    [[nodiscard]] QByteArray storeBytes() const {
        QFile file(storePath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

void expectSuccess(const ProcessOutcome& outcome) {
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.standardError.data();
    EXPECT_EQ(outcome.standardOutput,
              "Printer connection saved privately. Automatic printing remains off.\n");
    EXPECT_TRUE(outcome.standardError.isEmpty());
}

void expectFailure(const ProcessOutcome& outcome) {
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_TRUE(outcome.standardOutput.isEmpty());
    EXPECT_EQ(outcome.standardError, "Could not configure Quillo.\n");
}

TEST_F(ConfigureModeTest, StoresConnectionAndAlwaysLeavesAutomaticOff) {
    storeEarlierSettings();
    expectSuccess(configure(R"({"token": " tok-1 ", "origin": "https://news.example",
        "printer": "Office \u00B7 Laser", "automatic": true, "maxPages": 5, "unknown": [1]})"));

    EXPECT_EQ(Vault::read(SecretAccount::printToken, false), QStringLiteral(" tok-1 "));
    const Preferences preferences(storePath);
    EXPECT_EQ(preferences.string(PreferenceKey::origin), QStringLiteral("https://news.example"));
    EXPECT_EQ(preferences.string(PreferenceKey::printer), QStringLiteral("Office \u00B7 Laser"));
    EXPECT_FALSE(preferences.boolean(PreferenceKey::automatic));
    EXPECT_EQ(preferences.integer(PreferenceKey::maxPages), 1);
    // Keys the request does not cover are left alone.
    EXPECT_EQ(preferences.destination(), DeliveryDestination::both);
}

TEST_F(ConfigureModeTest, AbsentOrNullMembersRemoveTheirKeys) {
    for (const QByteArray& request :
         {QByteArray(R"({"token": "tok-2"})"),
          QByteArray(R"({"token": "tok-3", "origin": null, "printer": null})")}) {
        SCOPED_TRACE(request.toStdString());
        storeEarlierSettings();
        expectSuccess(configure(request));
        const Preferences preferences(storePath);
        EXPECT_FALSE(preferences.string(PreferenceKey::printer));
        EXPECT_FALSE(preferences.string(PreferenceKey::origin));
        EXPECT_FALSE(preferences.boolean(PreferenceKey::automatic));
        EXPECT_EQ(preferences.integer(PreferenceKey::maxPages), 1);
    }
}

TEST_F(ConfigureModeTest, MalformedRequestsChangeNothing) {
    expectSuccess(configure(R"({"token": "kept-token", "printer": "Kept"})"));
    const QByteArray storedBefore = storeBytes();
    ASSERT_FALSE(storedBefore.isEmpty());

    for (const char* request :
         {"", "not json", R"([{"token": "array-token"}])", R"("bare-token")", "{}",
          R"({"token": ""})", R"({"token": 5, "printer": "Changed"})", R"({"token": null})"}) {
        SCOPED_TRACE(request);
        expectFailure(configure(request));
    }
    EXPECT_EQ(storeBytes(), storedBefore);
    EXPECT_EQ(Vault::read(SecretAccount::printToken, false), QStringLiteral("kept-token"));
}

// The keyring comes first: when it cannot store, no preference changes.
// A store that cannot be written fails too.
TEST_F(ConfigureModeTest, KeyringOrStoreFailureIsReported) {
    storeEarlierSettings();
    const QByteArray storedBefore = storeBytes();
    expectFailure(configure(R"({"token": "tok-4", "printer": "New"})",
                            "unix:path=/nonexistent/quillo-test-bus"));
    EXPECT_EQ(storeBytes(), storedBefore);

    ASSERT_TRUE(QDir(configHome.filePath(QStringLiteral("quillo"))).removeRecursively());
    testing::writeFile(configHome.filePath(QStringLiteral("quillo")), "not a folder");
    expectFailure(configure(R"({"token": "tok-5", "printer": "Office"})"));
}

} // namespace
} // namespace quillo
