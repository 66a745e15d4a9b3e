// Configure mode end to end through the built executable, against the test
// session's keyring (the real "print-token" account, so these skip outside
// that session) and a preferences store of each test's own.
#include "store/Preferences.h"
#include "store/Vault.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo {
namespace {

bool liesInside(const std::filesystem::path& folder, const char* path) {
    std::error_code error;
    const auto relative = std::filesystem::weakly_canonical(path != nullptr ? path : "", error)
                              .lexically_relative(folder);
    return !error && !relative.empty() && *relative.begin() != "..";
}

// Why this process is not in the private session that scripts/test.sh makes,
// or nothing when it is: the session's marker names a folder of this user's
// that only they can enter, and the home, the XDG folders and the bus socket
// all lie inside it. Anywhere else these tests would overwrite a reader's key.
std::optional<std::string> outsidePrivateSession() {
    const char* marker = std::getenv("QUILLO_TEST_SANDBOX");
    std::error_code error;
    const auto sandbox = std::filesystem::canonical(marker != nullptr ? marker : "", error);
    struct stat status {};
    if (error || ::stat(sandbox.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::getuid() || (status.st_mode & 077) != 0) {
        return "QUILLO_TEST_SANDBOX names no private folder of this user";
    }
    for (const char* name :
         {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        if (!liesInside(sandbox, std::getenv(name))) {
            return std::string(name) + " lies outside " + sandbox.string();
        }
    }
    // One plain socket address, e.g. "unix:path=/tmp/quillo-tests.x/bus/dbus-y,guid=z".
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    std::cmatch address;
    if (bus == nullptr ||
        !std::regex_match(bus, address, std::regex("unix:path=([^,;%]+)(,guid=\\w+)?")) ||
        !liesInside(sandbox, address.str(1).c_str()) ||
        ::stat(address.str(1).c_str(), &status) != 0 || !S_ISSOCK(status.st_mode)) {
        return "the session bus is not the one inside " + sandbox.string();
    }
    return std::nullopt;
}

class ConfigureModeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto reason = outsidePrivateSession()) {
            GTEST_SKIP() << "Skipped: this test uses the Secret Service and runs only inside "
                            "scripts/test.sh's private session ("
                         << *reason << ")";
        }
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
