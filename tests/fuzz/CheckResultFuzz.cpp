#include "agent/DeliveryRun.h"
#include "tests/fuzz/FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillo;
    const auto result = readCheckResult(
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    if (result && result->pdf) {
        (void)displayFramePath(*result->pdf);
    }
    return 0;
}
