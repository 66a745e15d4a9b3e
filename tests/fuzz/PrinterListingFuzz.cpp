#include "QuilloBar/PrinterList.h"
#include "tests/fuzz/FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString listing =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const QString& printer : quillo::parsePrinterListing(listing)) {
        quillo::fuzz::require(!printer.isEmpty() && !printer.contains(u' ') &&
                                  !printer.contains(u'\n'),
                              "a queue name is one word");
    }
    return 0;
}
