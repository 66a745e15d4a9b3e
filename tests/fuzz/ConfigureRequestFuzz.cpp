// Reads the request, then stores what configure mode stores in a preferences
// file of its own and reads it back as the agent does.
#include "QuilloBar/ConfigureRequest.h"
#include "store/Preferences.h"
#include "tests/fuzz/FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillo;
    const auto request = readConfigureRequest(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    if (!request) {
        return 0;
    }
    fuzz::require(!request->token.isEmpty(), "the token is not empty");
    static const fuzz::ScratchFolder scratch;
    const QString file = QString::fromStdString((scratch.path() / "quillo-bar.conf").string());
    {
        Preferences preferences(file);
        preferences.setJsonValue(PreferenceKey::origin, request->origin);
        preferences.setJsonValue(PreferenceKey::printer, request->printer);
        fuzz::require(preferences.sync(), "the preferences are written");
    }
    const Preferences stored(file);
    const auto printer = stored.string(PreferenceKey::printer);
    if (request->printer.isString()) {
        fuzz::require(printer == request->printer.toString(), "a printer name is kept as given");
    }
    (void)stored.origin();
    (void)stored.effectivePageCount();
    return 0;
}
