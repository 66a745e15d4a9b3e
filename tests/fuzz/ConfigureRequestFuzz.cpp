// Reads the request, then stores what configure mode stores in a preferences
// file of its own and reads it back as the agent does.
#include "QuilloBar/configure/ConfigureRequest.h"
#include "store/Preferences.h"
#include "tests/fuzz/FuzzTarget.h"

void quillo::fuzz::testOne(std::string_view input) {
    const auto request = readConfigureRequest(QByteArrayView(input).toByteArray());
    if (!request) {
        return;
    }
    require(!request->deliveryKey.isEmpty(), "the delivery key is not empty");
    const QString file = QString::fromStdString(scratchFolder() / "quillo-bar.conf");
    {
        Preferences preferences(file);
        preferences.setJsonValue(PreferenceKey::origin, request->origin);
        preferences.setJsonValue(PreferenceKey::printer, request->printer);
        require(preferences.sync(), "the preferences are written");
    }
    const Preferences stored(file);
    if (request->printer.isString()) {
        require(stored.string(PreferenceKey::printer) == request->printer.toString(),
                "a printer name is kept as given");
    }
    (void)stored.origin();
    (void)stored.effectivePageCount();
}
