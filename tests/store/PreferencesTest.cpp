#include "store/Preferences.h"

#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace quillo {
namespace {

// Each row writes one value over the rows before it, syncs, and reads through
// a fresh store, as a later process does. Null removes the key, which then
// reads as its default. Then a value reads the same in the process that wrote
// it and after a restart.
TEST(Preferences, DerivedReadingsUseOnlyValuesTheyKnowAndReadsSurviveARestart) {
    using namespace PreferenceKey;
    const QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("quillo/quillo-bar.conf"));
    const QJsonValue null(QJsonValue::Null);
    const std::vector<std::tuple<QLatin1StringView, QJsonValue, QString>> rows{
        {maxPages, 4, "4"},
        {maxPages, 0, "3"},
        {maxPages, 5, "3"},
        {maxPages, 4294967297.0, "3"},
        {destination, "both", "both"},
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
        const QString reading =
            key == maxPages       ? QString::number(reader.effectivePageCount())
            : key == destination  ? QString::fromUtf8(rawValue(reader.destination()))
            : key == displayModel ? QString::fromUtf8(rawValue(reader.displayModel()))
                                  : reader.origin();
        EXPECT_EQ(reading, expected);
    }

    Preferences writer(path);
    writer.setBoolean(automatic, true);
    writer.setJsonValue(origin, QJsonValue(5));
    writer.setJsonValue(printer, QJsonObject{{"queue", "x"}});
    writer.setString(destination, QStringLiteral("garbage"));
    writer.setString(displayModel, QStringLiteral("x"));
    writer.setString(displayModel, std::nullopt);
    ASSERT_TRUE(writer.sync());
    const Preferences reader(path);
    // Unrecognised text never reads as true: it must not switch deliveries on.
    for (const Preferences* p : {static_cast<const Preferences*>(&writer), &reader}) {
        EXPECT_EQ(std::tuple(p->boolean(automatic), p->string(origin), p->string(printer),
                             p->boolean(destination), p->string(displayModel)),
                  std::tuple(true, QString("5"), std::nullopt, false, std::nullopt));
    }
}

} // namespace
} // namespace quillo
