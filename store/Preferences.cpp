#include "store/Preferences.h"

#include <QSettings>
#include <QStandardPaths>
#include <QVariant>
#include <cmath>
#include <limits>

namespace quillo {
namespace {

QString userStorePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/' +
           preferencesFile;
}

// QSettings keeps values typed in memory but reads them back from its file as
// text, so every read goes through the text form: a value then reads the same
// before and after a restart. Lists and maps have no scalar reading.
std::optional<QString> scalarText(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toString();
    default:
        return std::nullopt;
    }
}

int integerFromText(const QString& text) {
    bool isNumber = false;
    const qlonglong whole = text.toLongLong(&isNumber);
    if (isNumber) {
        return static_cast<int>(std::clamp<qlonglong>(whole, std::numeric_limits<int>::min(),
                                                      std::numeric_limits<int>::max()));
    }
    const double real = text.toDouble(&isNumber);
    if (isNumber && std::isfinite(real)) {
        // Truncated like an integer read of a stored real number.
        return static_cast<int>(std::clamp<double>(
            std::trunc(real), std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    }
    if (text.compare(u"true", Qt::CaseInsensitive) == 0) {
        return 1;
    }
    return 0;
}

bool booleanFromText(const QString& text) {
    if (text.compare(u"true", Qt::CaseInsensitive) == 0 ||
        text.compare(u"yes", Qt::CaseInsensitive) == 0) {
        return true;
    }
    // Anything unrecognised reads as false: a damaged "automatic" must never
    // switch deliveries on.
    return integerFromText(text) != 0;
}

} // namespace

Preferences::Preferences() : Preferences(userStorePath()) {}

Preferences::Preferences(const QString& filePath)
    : settings_(std::make_unique<QSettings>(filePath, QSettings::IniFormat)) {}

Preferences::~Preferences() = default;

std::optional<QString> Preferences::string(QLatin1StringView key) const {
    return scalarText(settings_->value(key));
}

int Preferences::integer(QLatin1StringView key) const {
    const auto text = string(key);
    return text ? integerFromText(*text) : 0;
}

bool Preferences::boolean(QLatin1StringView key) const {
    const auto text = string(key);
    return text ? booleanFromText(*text) : false;
}

void Preferences::setString(QLatin1StringView key, const std::optional<QString>& value) {
    if (value) {
        settings_->setValue(key, *value);
    } else {
        settings_->remove(key);
    }
}

void Preferences::setInteger(QLatin1StringView key, int value) {
    settings_->setValue(key, value);
}

void Preferences::setBoolean(QLatin1StringView key, bool value) {
    settings_->setValue(key, value);
}

void Preferences::setJsonValue(QLatin1StringView key, const QJsonValue& value) {
    if (value.isNull() || value.isUndefined()) {
        settings_->remove(key);
    } else {
        settings_->setValue(key, value.toVariant());
    }
}

bool Preferences::sync() {
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

QString Preferences::filePath() const {
    return settings_->fileName();
}

DeliveryDestination Preferences::destination() const {
    const auto raw = string(PreferenceKey::destination);
    return deliveryDestinationFromRaw(raw.value_or(QString()).toStdString())
        .value_or(DeliveryDestination::printer);
}

DisplayModel Preferences::displayModel() const {
    const auto raw = string(PreferenceKey::displayModel);
    return displayModelFromRaw(raw.value_or(QString()).toStdString()).value_or(DisplayModel::og);
}

int Preferences::effectivePageCount() const {
    const int stored = integer(PreferenceKey::maxPages);
    return stored >= 1 && stored <= 4 ? stored : 3;
}

QString Preferences::origin() const {
    return string(PreferenceKey::origin).value_or(QString(defaultServiceOrigin));
}

} // namespace quillo
