#include "store/BuildFingerprint.h"

#include "store/InstallTree.h"

#include <QByteArray>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <unistd.h>

namespace quillo {
namespace {

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
    ~FileDescriptor() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    [[nodiscard]] int get() const { return descriptor_; }

private:
    int descriptor_;
};

// Streams the file into the digest (the executable is tens of megabytes).
// False when the file cannot be read to its end.
bool digestFile(EVP_MD_CTX* context, const std::filesystem::path& path) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        return false;
    }
    std::array<unsigned char, 1 << 20> buffer{};
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer.data(), buffer.size());
        if (count == 0) {
            return true;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (EVP_DigestUpdate(context, buffer.data(), static_cast<size_t>(count)) != 1) {
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
