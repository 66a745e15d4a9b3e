#include "QuilloBar/desktop/PrinterList.h"

#include "agent/Command.h"

#include <chrono>

namespace quillo {

QStringList parsePrinterListing(QStringView listing) {
    QStringList printers;
    for (const QStringView line : listing.split(u'\n', Qt::SkipEmptyParts)) {
        const auto words = line.split(u' ', Qt::SkipEmptyParts);
        if (words.size() >= 2 && words.first() == u"printer") {
            printers.append(words.at(1).toString());
        }
    }
    return printers;
}

QStringList listPrinters(const QString& lpstatPath) {
    using namespace std::chrono_literals;
    // CUPS translates the word "printer"; the parser reads the untranslated one.
    // The window waits for the listing, so an unreachable print server must not
    // hold it for long.
    const auto result = command(lpstatPath, {QStringLiteral("-p")},
                                CommandEnvironment{{QStringLiteral("LC_ALL"), QStringLiteral("C")}},
                                std::chrono::steady_clock::now() + 5s);
    return parsePrinterListing(result.output);
}

} // namespace quillo
