// The print queues the settings window offers, as CUPS lists them.
#pragma once

#include <QLatin1StringView>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace quillo {

inline constexpr QLatin1StringView systemPrinterListing{"/usr/bin/lpstat"};

// The queue named by every line "printer NAME …", in order, duplicates kept.
QStringList parsePrinterListing(QStringView listing);

// Runs `lpstat -p` and parses what it prints. Empty when it cannot run.
QStringList listPrinters(const QString& lpstatPath = systemPrinterListing);

} // namespace quillo
