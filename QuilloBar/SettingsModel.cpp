#include "QuilloBar/SettingsModel.h"

#include "store/Preferences.h"

namespace quillo {

SettingsModel::SettingsModel(QObject* parent) : QObject(parent), origin_(defaultServiceOrigin) {}

} // namespace quillo
