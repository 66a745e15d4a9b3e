#include "agent/DeliveryRun.h"
#include "tests/fuzz/FuzzTarget.h"

void quillo::fuzz::testOne(std::string_view input) {
    const auto result = readCheckResult(QString::fromUtf8(input));
    if (result && result->pdf) {
        (void)displayFramePath(*result->pdf);
    }
}
