#include "store/Sha256.h"

#include "kit/Sha256.h"

namespace quillo {

QString sha256Hex(QByteArrayView bytes) {
    return QString::fromStdString(
        Sha256::hex({bytes.data(), static_cast<std::size_t>(bytes.size())}));
}

} // namespace quillo
