#include "store/BuildFingerprint.h"

#include "store/InstallTree.h"

#include <QByteArray>
#include <QFile>
#include <array>
#include <memory>
#include <openssl/evp.h>

namespace quillo {
namespace {

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

// Streams the file into the digest (the executable is tens of megabytes).
// False when the file cannot be read to its end.
bool digestFile(EVP_MD_CTX* context, const std::filesystem::path& path) {
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 count = file.read(buffer.data(), buffer.size());
        if (count == 0) {
            return true;
        }
        if (count < 0 ||
            EVP_DigestUpdate(context, buffer.constData(), static_cast<size_t>(count)) != 1) {
            return false;
        }
    }
}

// Adds the whole file, or nothing when it fails part-way: the digest is then
// rolled back to where it was before the file.
void digestWholeFileOrNothing(DigestContext& context, const std::filesystem::path& path) {
    const DigestContext checkpoint(EVP_MD_CTX_new());
    if (!checkpoint || EVP_MD_CTX_copy_ex(checkpoint.get(), context.get()) != 1) {
        return;
    }
    if (!digestFile(context.get(), path)) {
        EVP_MD_CTX_copy_ex(context.get(), checkpoint.get());
    }
}

} // namespace

QString buildFingerprint() {
    return buildFingerprint(InstallTree::root());
}

QString buildFingerprint(const std::filesystem::path& root) {
    DigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        return {};
    }
    digestWholeFileOrNothing(context, root / InstallTree::executable);
    digestWholeFileOrNothing(context, root / InstallTree::buildManifest);
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) {
        return {};
    }
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(digest.data()), static_cast<qsizetype>(length))
            .toHex());
}

} // namespace quillo
