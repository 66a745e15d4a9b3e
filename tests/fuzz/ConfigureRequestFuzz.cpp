#include "QuilloBar/configure/ConfigureRequest.h"
#include "tests/fuzz/FuzzTarget.h"

void quillo::fuzz::testOne(std::string_view input) {
    const auto request = readConfigureRequest(QByteArrayView(input).toByteArray());
    require(!request || !request->deliveryKey.isEmpty(), "an accepted request has a delivery key");
}
