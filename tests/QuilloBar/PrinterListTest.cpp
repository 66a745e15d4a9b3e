#include "QuilloBar/PrinterList.h"

#include "tests/support/FixturePdf.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

namespace quillo {
namespace {

TEST(PrinterList, NamesTheQueueOfEachPrinterLine) {
    const std::vector<std::pair<const char*, QStringList>> cases{
        {"printer Office is idle.  enabled since Mon\nprinter HL_2350 disabled since Mon -\n",
         {QStringLiteral("Office"), QStringLiteral("HL_2350")}},
        {"printer Office\nprinter  Office  now\n",
         {QStringLiteral("Office"), QStringLiteral("Office")}},
        {"\n\n   printer   B\u00fcro idle\n", {QStringLiteral("B\u00fcro")}},
        {"Printer Office is idle.\nprinter\nprinter \n\tprinter Lab\nscheduler is running\n", {}},
        {"", {}},
    };
    for (const auto& [listing, printers] : cases) {
        EXPECT_EQ(parsePrinterListing(QString::fromUtf8(listing)), printers) << listing;
    }
}

// CUPS translates the word "printer"; a German desktop must still see its queues.
TEST(PrinterList, ListsInTheUntranslatedLocale) {
    const QTemporaryDir folder;
    const QString lpstat = folder.filePath(QStringLiteral("lpstat"));
    testing::writeProgram(lpstat, "#!/bin/sh\n[ \"$*\" = -p ] || exit 2\n"
                                  "word=Drucker; [ \"$LC_ALL\" = C ] && word=printer\n"
                                  "printf '%s Office ist frei.\\n%s Lab\\n' $word $word\n");
    const QByteArray locale = qgetenv("LC_ALL");
    qputenv("LC_ALL", "de_DE.UTF-8");
    EXPECT_EQ(listPrinters(lpstat), QStringList({QStringLiteral("Office"), QStringLiteral("Lab")}));
    EXPECT_EQ(listPrinters(folder.filePath(QStringLiteral("absent"))), QStringList());
    locale.isNull() ? qunsetenv("LC_ALL") : qputenv("LC_ALL", locale);
}

} // namespace
} // namespace quillo
