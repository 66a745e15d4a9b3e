#include "store/Sha256.h"

#include <QByteArray>
#include <memory>
#include <openssl/evp.h>

namespace quillo {

QString sha256Hex(QByteArrayView bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    // EVP_Digest owns its context for the one call, so nothing outlives it.
    if (EVP_Digest(bytes.data(), static_cast<size_t>(bytes.size()), digest, &length, EVP_sha256(),
                   nullptr) != 1) {
        return {};
    }
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length)).toHex());
}

} // namespace quillo
