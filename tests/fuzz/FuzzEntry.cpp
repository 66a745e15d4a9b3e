#include "tests/fuzz/FuzzTarget.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillo::fuzz::testOne({reinterpret_cast<const char*>(data), size});
    return 0;
}
