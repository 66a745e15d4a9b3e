#include "QuilloBar/desktop/PrinterList.h"
#include "tests/fuzz/FuzzTarget.h"

void quillo::fuzz::testOne(std::string_view input) {
    for (const QString& printer : parsePrinterListing(QString::fromUtf8(input))) {
        require(!printer.isEmpty() && !printer.contains(u' ') && !printer.contains(u'\n'),
                "a queue name is one word");
    }
}
