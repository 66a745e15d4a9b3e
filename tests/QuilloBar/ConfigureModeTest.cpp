// Configure mode end to end through the built executable, against the test
// session's keyring (the real "print-token" account, so these skip outside
// that session) and a preferences store of each test's own.
#include "store/Preferences.h"
#include "store/Vault.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/QuilloBarProcess.h"
#include "tests/support/TestSession.h"

#include <QDir>
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
};

// Over a reader's earlier settings: the key goes to the keyring as given;
// origin and printer are stored or, absent or null, removed; automatic
// delivery is always left off at one page; keys the request does not cover
// are kept.
TEST_F(ConfigureModeTest, StoresConnectionAndAlwaysLeavesAutomaticOff) {
    using Stored = std::optional<QString>;
    const std::vector<std::tuple<QByteArray, QString, Stored, Stored>> cases{
        {R"({"token": " tok-1 ", "origin": "https://news.example",
            "printer": "Office \u00B7 Laser", "automatic": true, "maxPages": 5, "unknown": [1]})",
         " tok-1 ", "https://news.example", "Office \u00B7 Laser"},
        {R"({"token": "tok-2"})", "tok-2", std::nullopt, std::nullopt},
        {R"({"token": "tok-3", "origin": null, "printer": null})", "tok-3", std::nullopt,
         std::nullopt},
    };
    for (const auto& [request, token, origin, printer] : cases) {
        SCOPED_TRACE(request.toStdString());
        storeEarlierSettings();
        const ProcessOutcome outcome = configure(request);
        EXPECT_EQ(outcome.exitStatus, 0) << outcome.standardError.data();
        EXPECT_EQ(outcome.standardOutput,
                  "Printer connection saved privately. Automatic printing remains off.\n");
        EXPECT_TRUE(outcome.standardError.isEmpty());
        EXPECT_EQ(Vault::read(SecretAccount::printToken, false), token);
        const Preferences preferences(storePath);
        EXPECT_EQ(preferences.string(PreferenceKey::origin), origin);
        EXPECT_EQ(preferences.string(PreferenceKey::printer), printer);
        EXPECT_FALSE(preferences.boolean(PreferenceKey::automatic));
        EXPECT_EQ(preferences.integer(PreferenceKey::maxPages), 1);
        EXPECT_EQ(preferences.destination(), DeliveryDestination::both);
    }
}

// Malformed requests, and a keyring that cannot store (it comes first), change
// nothing; a store that cannot be written fails too.
TEST_F(ConfigureModeTest, FailuresChangeNothing) {
    ASSERT_EQ(configure(R"({"token": "kept-token", "printer": "Kept"})").exitStatus, 0);
    const QByteArray storedBefore = testing::readFile(storePath);
    ASSERT_FALSE(storedBefore.isEmpty());
    const char* noBus = "unix:path=/nonexistent/quillo-test-bus";
    const std::vector<std::pair<const char*, const char*>> cases{
        {"", nullptr},
        {"not json", nullptr},
        {R"([{"token": "array-token"}])", nullptr},
        {R"("bare-token")", nullptr},
        {"{}", nullptr},
        {R"({"token": ""})", nullptr},
        {R"({"token": 5, "printer": "Changed"})", nullptr},
        {R"({"token": null})", nullptr},
        {R"({"token": "tok-4", "printer": "New"})", noBus},
    };
    for (const auto& [request, bus] : cases) {
        SCOPED_TRACE(request);
        const ProcessOutcome outcome = configure(request, bus);
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_TRUE(outcome.standardOutput.isEmpty());
        EXPECT_EQ(outcome.standardError, "Could not configure Quillo.\n");
    }
    EXPECT_EQ(testing::readFile(storePath), storedBefore);
    EXPECT_EQ(Vault::read(SecretAccount::printToken, false), QStringLiteral("kept-token"));

    ASSERT_TRUE(QDir(configHome.filePath(QStringLiteral("quillo"))).removeRecursively());
    testing::writeFile(configHome.filePath(QStringLiteral("quillo")), "not a folder");
    EXPECT_EQ(configure(R"({"token": "tok-5", "printer": "Office"})").exitStatus, 1);
}

} // namespace
} // namespace quillo
