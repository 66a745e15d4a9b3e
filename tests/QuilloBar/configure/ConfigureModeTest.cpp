// Configure mode end to end through the built executable, against the real
// "print-token" account of a private bus and keyring of this process's own
// (see ApplicationTestMain.cpp), so the reader's keyring is never touched, and
// a preferences store of the test's own.
#include "store/Preferences.h"
#include "store/Vault.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace quillo {
namespace {

// Over a reader's earlier settings: a request that passes puts the key in the
// keyring as given, stores origin and printer or, absent or null, removes
// them, always leaves automatic delivery off at one page and keeps the keys it
// does not cover. A malformed request, or a keyring that cannot store (it
// comes first), changes nothing; nor does a store that cannot be written.
TEST(ConfigureMode, StoresTheConnectionWithAutomaticOffOrNothing) {
    using Stored = std::optional<QString>;
    const QString kept = QStringLiteral("kept-token");
    const QTemporaryDir configHome;
    const QString storePath = configHome.filePath(QString(preferencesFile));
    // A reader's earlier settings, which configure mode must overwrite or keep.
    const QByteArray earlier =
        "[General]\norigin=https://earlier.example\nprinter=Earlier_Printer\n"
        "automatic=true\nmaxPages=4\ndestination=both\n";
    ASSERT_TRUE(QDir().mkpath(QFileInfo(storePath).path()));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
    QProcessEnvironment noBus = environment;
    noBus.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    const QStringList mode{QStringLiteral("--configure-stdin")};
    // Request, bus reachable; the key, origin and printer stored (no key: refused).
    const std::vector<std::tuple<QByteArray, bool, Stored, Stored, Stored>> cases{
        {R"({"token": " tok-1 ", "origin": "https://news.example",
            "printer": "Office \u00B7 Laser", "automatic": true, "maxPages": 5, "unknown": [1]})",
         true, " tok-1 ", "https://news.example", "Office \u00B7 Laser"},
        {R"({"token": "tok-2"})", true, "tok-2", std::nullopt, std::nullopt},
        {R"({"token": 5, "printer": "Changed"})", true, {}, {}, {}},
        {R"({"token": "tok-4", "printer": "New"})", false, {}, {}, {}},
    };
    for (const auto& [request, reachable, token, origin, printer] : cases) {
        SCOPED_TRACE(request.toStdString());
        testing::writeFile(storePath, earlier);
        Vault::save(kept, SecretAccount::deliveryKey);
        const auto outcome = testing::runQuilloBar(mode, request, reachable ? environment : noBus);
        EXPECT_EQ(outcome.exitStatus, token ? 0 : 1);
        EXPECT_EQ(outcome.standardOutput + '|' + outcome.standardError, // output | errors
                  token ? "Printer connection saved privately. Automatic printing remains off.\n|"
                        : "|Could not configure Quillo.\n");
        EXPECT_EQ(Vault::lookup(SecretAccount::deliveryKey, false).value, token.value_or(kept));
        if (!token) {
            EXPECT_EQ(testing::readFile(storePath), earlier);
            continue;
        }
        const Preferences stored(storePath);
        EXPECT_EQ(std::tuple(stored.string(PreferenceKey::origin),
                             stored.string(PreferenceKey::printer),
                             stored.boolean(PreferenceKey::automatic),
                             stored.integer(PreferenceKey::maxPages), stored.destination()),
                  std::tuple(origin, printer, false, 1, DeliveryDestination::both));
    }

    ASSERT_TRUE(QDir(configHome.filePath(QStringLiteral("quillo"))).removeRecursively());
    testing::writeFile(configHome.filePath(QStringLiteral("quillo")), "not a folder");
    EXPECT_EQ(testing::runQuilloBar(mode, R"({"token": "tok-5"})", environment).exitStatus, 1);
}

} // namespace
} // namespace quillo
