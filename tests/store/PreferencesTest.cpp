#include "store/Preferences.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace quillo {
namespace {

class PreferencesTest : public ::testing::Test {
protected:
    QTemporaryDir directory;
    QString path = directory.filePath(QStringLiteral("quillo/quillo-bar.conf"));

    // Writes through one store, syncs, and hands back a fresh store on the
    // same file, so every reading below is the one a later process gets.
    template <typename Write> std::unique_ptr<Preferences> reloadedAfter(Write write) {
        {
            Preferences writer(path);
            write(writer);
            EXPECT_TRUE(writer.sync());
        }
        return std::make_unique<Preferences>(path);
    }
};

TEST_F(PreferencesTest, PageCountUsesOnlyOneToFour) {
    const std::vector<std::pair<QJsonValue, int>> cases{
        {QJsonValue(1), 1},
        {QJsonValue(4), 4},
        {QJsonValue(2.9), 2},
        {QJsonValue(0), 3},
        {QJsonValue(5), 3},
        {QJsonValue(-1), 3},
        {QJsonValue("2"), 2},
        {QJsonValue("four"), 3},
        {QJsonValue(""), 3},
        {QJsonValue(4294967297.0), 3},
        {QJsonValue(QJsonArray{2}), 3},
    };
    for (const auto& [value, expected] : cases) {
        const QJsonValue stored = value;
        const auto preferences = reloadedAfter(
            [&](Preferences& writer) { writer.setJsonValue(PreferenceKey::maxPages, stored); });
        EXPECT_EQ(preferences->effectivePageCount(), expected)
            << stored.toVariant().toString().toStdString();
    }
}

TEST_F(PreferencesTest, DestinationAndModelMatchRawValuesExactly) {
    using enum DeliveryDestination;
    const std::vector<std::tuple<QString, DeliveryDestination, QString, DisplayModel>> cases{
        {"display", display, "x", DisplayModel::x},
        {"both", both, "X", DisplayModel::og},
        {"Printer", printer, " x", DisplayModel::og},
        {" both", printer, "", DisplayModel::og}};
    for (const auto& [destination, expectedDestination, model, expectedModel] : cases) {
        SCOPED_TRACE(destination.toStdString());
        const auto preferences = reloadedAfter([&](Preferences& writer) {
            writer.setString(PreferenceKey::destination, destination);
            writer.setString(PreferenceKey::displayModel, model);
        });
        EXPECT_EQ(preferences->destination(), expectedDestination);
        EXPECT_EQ(preferences->displayModel(), expectedModel);
    }
}

// A value reads the same in the process that wrote it and after a restart.
TEST_F(PreferencesTest, ReadsAgreeBeforeAndAfterReload) {
    Preferences writer(path);
    writer.setBoolean(PreferenceKey::automatic, true);
    writer.setBoolean(PreferenceKey::didShowWelcome, false);
    writer.setInteger(PreferenceKey::maxPages, 2);
    writer.setJsonValue(PreferenceKey::origin, QJsonValue(5));
    writer.setJsonValue(PreferenceKey::printer, QJsonObject{{"queue", "x"}});
    // Text the file format itself uses must come back unchanged.
    const QString awkward = QStringLiteral("HP, Office; \"A4\" @Variant(0) [General] \u00B7");
    writer.setString(PreferenceKey::authorizedBuild, awkward);
    writer.setString(PreferenceKey::destination, QStringLiteral("garbage"));
    ASSERT_TRUE(writer.sync());
    const Preferences reader(path);
    for (const Preferences* preferences : {static_cast<const Preferences*>(&writer), &reader}) {
        EXPECT_TRUE(preferences->boolean(PreferenceKey::automatic));
        EXPECT_FALSE(preferences->boolean(PreferenceKey::didShowWelcome));
        EXPECT_EQ(preferences->integer(PreferenceKey::maxPages), 2);
        EXPECT_EQ(preferences->string(PreferenceKey::origin), QStringLiteral("5"));
        EXPECT_FALSE(preferences->string(PreferenceKey::printer));
        EXPECT_EQ(preferences->string(PreferenceKey::authorizedBuild), awkward);
        // Unrecognised text never reads as true: it must not switch deliveries on.
        EXPECT_FALSE(preferences->boolean(PreferenceKey::destination));
    }
}

// Absent values remove their keys, and a store without them reads every default.
TEST_F(PreferencesTest, AbsentValuesRemoveKeysThatThenReadAsDefaults) {
    const auto preferences = reloadedAfter([](Preferences& writer) {
        writer.setString(PreferenceKey::printer, QStringLiteral("Office"));
        writer.setString(PreferenceKey::origin, QStringLiteral("https://example.test"));
        writer.setString(PreferenceKey::destination, QStringLiteral("both"));
    });
    preferences->setString(PreferenceKey::printer, std::nullopt);
    preferences->setJsonValue(PreferenceKey::origin, QJsonValue(QJsonValue::Null));
    preferences->setJsonValue(PreferenceKey::destination, QJsonValue(QJsonValue::Undefined));
    ASSERT_TRUE(preferences->sync());

    const Preferences reader(path);
    EXPECT_FALSE(reader.string(PreferenceKey::printer));
    EXPECT_FALSE(reader.string(PreferenceKey::origin));
    EXPECT_EQ(reader.origin(), defaultServiceOrigin);
    EXPECT_EQ(reader.destination(), DeliveryDestination::printer);
    EXPECT_EQ(reader.integer(PreferenceKey::maxPages), 0);
    EXPECT_FALSE(reader.boolean(PreferenceKey::automatic));
    EXPECT_EQ(reader.displayModel(), DisplayModel::og);
    EXPECT_EQ(reader.effectivePageCount(), 3);
}

} // namespace
} // namespace quillo
