#include "store/Preferences.h"

#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace quillo {
namespace {

class PreferencesTest : public ::testing::Test {
protected:
    QTemporaryDir directory;
    QString path = directory.filePath(QStringLiteral("quillo/quillo-bar.conf"));
};

QString text(std::string_view raw) {
    return QString::fromLatin1(raw.data(), qsizetype(raw.size()));
}

// Each row writes one value over the rows before it, syncs, and reads through
// a fresh store, as a later process does. Null and undefined remove the key,
// which then reads as its default.
TEST_F(PreferencesTest, DerivedReadingsUseOnlyValuesTheyKnow) {
    using namespace PreferenceKey;
    const QJsonValue null(QJsonValue::Null);
    const QJsonValue undefined(QJsonValue::Undefined);
    const std::vector<std::tuple<QLatin1StringView, QJsonValue, QString>> rows{
        {maxPages, 4, "4"},
        {maxPages, 2.9, "2"},
        {maxPages, 0, "3"},
        {maxPages, 5, "3"},
        {maxPages, "four", "3"},
        {maxPages, 4294967297.0, "3"},
        {maxPages, "2", "2"},
        {maxPages, null, "3"},
        {destination, "Printer", "printer"},
        {destination, "both", "both"},
        {destination, undefined, "printer"},
        {displayModel, "X", "og"},
        {displayModel, "x", "x"},
        {origin, "https://example.test", "https://example.test"},
        {origin, null, defaultServiceOrigin},
    };
    for (const auto& [key, value, expected] : rows) {
        SCOPED_TRACE(QString(key).toStdString() + " " + value.toVariant().toString().toStdString());
        {
            Preferences writer(path);
            writer.setJsonValue(key, value);
            ASSERT_TRUE(writer.sync());
        }
        const Preferences reader(path);
        const QString reading = key == maxPages       ? QString::number(reader.effectivePageCount())
                                : key == destination  ? text(rawValue(reader.destination()))
                                : key == displayModel ? text(rawValue(reader.displayModel()))
                                                      : reader.origin();
        EXPECT_EQ(reading, expected);
    }
}

// A value reads the same in the process that wrote it and after a restart.
TEST_F(PreferencesTest, ReadsAgreeBeforeAndAfterReload) {
    Preferences writer(path);
    writer.setBoolean(PreferenceKey::automatic, true);
    writer.setJsonValue(PreferenceKey::origin, QJsonValue(5));
    writer.setJsonValue(PreferenceKey::printer, QJsonObject{{"queue", "x"}});
    // Text the file format itself uses must come back unchanged.
    const QString awkward = QStringLiteral("HP, Office; \"A4\" @Variant(0) [General] \u00B7");
    writer.setString(PreferenceKey::authorizedBuild, awkward);
    writer.setString(PreferenceKey::destination, QStringLiteral("garbage"));
    writer.setString(PreferenceKey::displayModel, QStringLiteral("x"));
    writer.setString(PreferenceKey::displayModel, std::nullopt);
    ASSERT_TRUE(writer.sync());
    const Preferences reader(path);
    for (const Preferences* preferences : {static_cast<const Preferences*>(&writer), &reader}) {
        EXPECT_TRUE(preferences->boolean(PreferenceKey::automatic));
        EXPECT_EQ(preferences->string(PreferenceKey::origin), QStringLiteral("5"));
        EXPECT_FALSE(preferences->string(PreferenceKey::printer));
        EXPECT_EQ(preferences->string(PreferenceKey::authorizedBuild), awkward);
        // Unrecognised text never reads as true: it must not switch deliveries on.
        EXPECT_FALSE(preferences->boolean(PreferenceKey::destination));
        EXPECT_FALSE(preferences->string(PreferenceKey::displayModel));
    }
    const Preferences absent(directory.filePath("absent.conf"));
    EXPECT_EQ(std::pair(absent.integer(PreferenceKey::maxPages),
                        absent.boolean(PreferenceKey::automatic)),
              std::pair(0, false));
}

} // namespace
} // namespace quillo
