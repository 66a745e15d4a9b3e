// SHA-256 as lowercase hexadecimal (two digits per byte, no separators), the
// one digest format of the build fingerprint, the feed key and issue checks.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace quillo::Sha256 {

std::string hex(std::string_view bytes);

// The digest of a file's whole content, read in pieces; nothing when it
// cannot be read or is no regular file (a link, a FIFO, a device).
std::optional<std::string> fileHex(const std::filesystem::path& path);

// For bytes that arrive in pieces, such as a download.
class Hasher {
public:
    Hasher();
    void update(std::string_view bytes);
    // The digest of everything so far; the hasher starts over afterwards.
    std::string finish();

private:
    struct Free {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> context_;
};

} // namespace quillo::Sha256
