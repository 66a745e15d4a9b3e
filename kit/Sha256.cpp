#include "kit/Sha256.h"

#include <array>
#include <cstdio>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillo::Sha256 {
namespace {

std::string toHex(const unsigned char* digest, unsigned int length) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(std::size_t{2} * length);
    for (unsigned int index = 0; index < length; ++index) {
        text += digits[digest[index] >> 4];
        text += digits[digest[index] & 0x0f];
    }
    return text;
}

} // namespace

std::string hex(std::string_view bytes) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) !=
        1) {
        return {};
    }
    return toHex(digest.data(), length);
}

void Hasher::Free::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

Hasher::Hasher() : context_(EVP_MD_CTX_new()) {
    if (context_) {
        EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr);
    }
}

void Hasher::update(std::string_view bytes) {
    if (context_) {
        EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size());
    }
}

std::string Hasher::finish() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (!context_ || EVP_DigestFinal_ex(context_.get(), digest.data(), &length) != 1) {
        return {};
    }
    EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr);
    return toHex(digest.data(), length);
}

std::optional<std::string> fileHex(const std::filesystem::path& path) {
    // A FIFO would block, a device such as /dev/zero never end, and a link
    // may point anywhere: only a regular file is read.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return std::nullopt;
    }
    Hasher hasher;
    std::vector<char> buffer(1 << 16);
    bool failed = false;
    for (;;) {
        const ssize_t count = ::read(descriptor, buffer.data(), buffer.size());
        if (count == 0) {
            break;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            failed = true;
            break;
        }
        hasher.update({buffer.data(), static_cast<std::size_t>(count)});
    }
    ::close(descriptor);
    if (failed) {
        return std::nullopt;
    }
    return hasher.finish();
}

} // namespace quillo::Sha256
