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

// Over a reader's earlier settings: a request that passes puts the key in the
// keyring as given, stores origin and printer or, absent or null, removes
// them, always leaves automatic delivery off at one page and keeps the keys it
// does not cover. A malformed request, or a keyring that cannot store (it
// comes first), changes nothing; nor does a store that cannot be written.
TEST_F(ConfigureModeTest, StoresTheConnectionWithAutomaticOffOrNothing) {
    using Stored = std::optional<QString>;
    const QString kept = QStringLiteral("kept-token");
    const char* noBus = "unix:path=/nonexistent/quillo-test-bus";
    // Request, bus; the key, origin and printer stored (no key: refused).
    const std::vector<std::tuple<QByteArray, const char*, Stored, Stored, Stored>> cases{
        {R"({"token": " tok-1 ", "origin": "https://news.example",
            "printer": "Office \u00B7 Laser", "automatic": true, "maxPages": 5, "unknown": [1]})",
         nullptr, " tok-1 ", "https://news.example", "Office \u00B7 Laser"},
        {R"({"token": "tok-2"})", nullptr, "tok-2", std::nullopt, std::nullopt},
        {R"({"token": "tok-3", "origin": null, "printer": null})", nullptr, "tok-3", std::nullopt,
         std::nullopt},
        {"", nullptr, {}, {}, {}},
        {R"([{"token": "array-token"}])", nullptr, {}, {}, {}},
        {"{}", nullptr, {}, {}, {}},
        {R"({"token": ""})", nullptr, {}, {}, {}},
        {R"({"token": 5, "printer": "Changed"})", nullptr, {}, {}, {}},
        {R"({"token": "tok-4", "printer": "New"})", noBus, {}, {}, {}},
    };
    for (const auto& [request, bus, token, origin, printer] : cases) {
        SCOPED_TRACE(request.toStdString());
        storeEarlierSettings();
        Vault::save(kept, SecretAccount::printToken);
        const QByteArray before = testing::readFile(storePath);
        const ProcessOutcome outcome = configure(request, bus);
        EXPECT_EQ(outcome.exitStatus, token ? 0 : 1);
        EXPECT_EQ(outcome.standardOutput,
                  token ? "Printer connection saved privately. Automatic printing remains off.\n"
                        : "");
        EXPECT_EQ(outcome.standardError, token ? "" : "Could not configure Quillo.\n");
        EXPECT_EQ(Vault::read(SecretAccount::printToken, false), token.value_or(kept));
        if (!token) {
            EXPECT_EQ(testing::readFile(storePath), before);
            continue;
        }
        const Preferences preferences(storePath);
        EXPECT_EQ(preferences.string(PreferenceKey::origin), origin);
        EXPECT_EQ(preferences.string(PreferenceKey::printer), printer);
        EXPECT_FALSE(preferences.boolean(PreferenceKey::automatic));
        EXPECT_EQ(preferences.integer(PreferenceKey::maxPages), 1);
        EXPECT_EQ(preferences.destination(), DeliveryDestination::both);
    }

    ASSERT_TRUE(QDir(configHome.filePath(QStringLiteral("quillo"))).removeRecursively());
    testing::writeFile(configHome.filePath(QStringLiteral("quillo")), "not a folder");
    EXPECT_EQ(configure(R"({"token": "tok-5", "printer": "Office"})").exitStatus, 1);
}

} // namespace
} // namespace quillo
