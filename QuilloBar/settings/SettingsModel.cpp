#include "QuilloBar/settings/SettingsModel.h"

#include "store/Preferences.h"

namespace quillo {

SettingsModel::SettingsModel(QObject* parent) : QObject(parent), origin_(defaultServiceOrigin) {}

SettingsChoices choicesOf(const SettingsModel& form) {
    return {form.destination(), form.key(),           form.printer(),
            form.maxPages(),    form.display(),       form.webhook(),
            form.automatic(),   form.launchAtLogin(), form.origin()};
}

} // namespace quillo
