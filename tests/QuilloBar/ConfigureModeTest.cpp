// Configure mode end to end through the built executable, against the test
// session's keyring (the real "print-token" account) and a preferences store
// of each test's own.
#include "store/Preferences.h"
#include "store/Vault.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace quillo {
namespace {

using testing::ProcessOutcome;

constexpr const char* successLine =
    "Printer connection saved privately. Automatic printing remains off.\n";
constexpr const char* failureLine = "Could not configure Quillo.\n";

class ConfigureModeTest : public ::testing::Test {
protected:
    QTemporaryDir configHome;
    QString storePath = configHome.filePath(QString(preferencesFile));

    [[nodiscard]] QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
        return environment;
    }

    ProcessOutcome configure(const QByteArray& request) {
        return configureIn(environment(), request);
    }

    static ProcessOutcome configureIn(const QProcessEnvironment& environment,
                                      const QByteArray& request) {
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
    EXPECT_EQ(outcome.standardOutput, successLine);
    EXPECT_TRUE(outcome.standardError.isEmpty());
}

void expectFailure(const ProcessOutcome& outcome) {
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_TRUE(outcome.standardOutput.isEmpty());
    EXPECT_EQ(outcome.standardError, failureLine);
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
    storeEarlierSettings();
    expectSuccess(configure(R"({"token": "tok-2"})"));
    {
        const Preferences preferences(storePath);
        EXPECT_FALSE(preferences.string(PreferenceKey::printer));
        EXPECT_EQ(preferences.origin(), defaultServiceOrigin);
        EXPECT_FALSE(preferences.boolean(PreferenceKey::automatic));
        EXPECT_EQ(preferences.integer(PreferenceKey::maxPages), 1);
    }

    storeEarlierSettings();
    expectSuccess(configure(R"({"token": "tok-3", "origin": null, "printer": null})"));
    const Preferences preferences(storePath);
    EXPECT_FALSE(preferences.string(PreferenceKey::printer));
    EXPECT_FALSE(preferences.string(PreferenceKey::origin));
}

TEST_F(ConfigureModeTest, MalformedRequestsChangeNothing) {
    expectSuccess(configure(R"({"token": "kept-token", "printer": "Kept"})"));
    const QByteArray storedBefore = storeBytes();
    ASSERT_FALSE(storedBefore.isEmpty());

    const QList<QByteArray> requests{"",
                                     "not json",
                                     "[]",
                                     R"([{"token": "array-token"}])",
                                     R"("bare-token")",
                                     "{}",
                                     R"({"token": ""})",
                                     R"({"token": 5, "printer": "Changed"})",
                                     R"({"token": null})",
                                     R"({"token": "unterminated")"};
    for (const QByteArray& request : requests) {
        SCOPED_TRACE(request.toStdString());
        expectFailure(configure(request));
    }
    EXPECT_EQ(storeBytes(), storedBefore);
    EXPECT_EQ(Vault::read(SecretAccount::printToken, false), QStringLiteral("kept-token"));
}

TEST_F(ConfigureModeTest, KeyringFailureLeavesPreferencesUntouched) {
    storeEarlierSettings();
    const QByteArray storedBefore = storeBytes();
    QProcessEnvironment noBus = environment();
    noBus.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                 QStringLiteral("unix:path=/nonexistent/quillo-test-bus"));

    expectFailure(configureIn(noBus, R"({"token": "tok-4", "printer": "New"})"));
    EXPECT_EQ(storeBytes(), storedBefore);
}

TEST_F(ConfigureModeTest, UnwritablePreferencesAreAFailure) {
    // A file where the store's folder should be.
    testing::writeFile(configHome.filePath(QStringLiteral("quillo")), "not a folder");
    expectFailure(configure(R"({"token": "tok-5", "printer": "Office"})"));
}

} // namespace
} // namespace quillo
