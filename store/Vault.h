// The two secrets, kept in the desktop's keyring (the freedesktop Secret
// Service) rather than in the preferences file.
#pragma once

#include <QString>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace quillo {

// The service attribute of every item: one fixed identifier for the product.
inline constexpr std::string_view vaultService = "news.quillo.printer";

// A failed save. what() is a user-facing sentence (callers prefix it with
// "Could not save: "); code() is the keyring's own error code.
class VaultError final : public std::exception {
public:
    VaultError(int code, std::string message) : code_(code), message_(std::move(message)) {}

    [[nodiscard]] int code() const noexcept { return code_; }
    [[nodiscard]] const char* what() const noexcept override { return message_.c_str(); }

private:
    int code_;
    std::string message_;
};

// Blocking and callable from any thread. No call waits on the keyring without
// a bound: a keyring that does not answer counts as a failure or as absence.
namespace Vault {

// Replaces the value stored under the account, or creates the item in the
// default collection. May show the keyring's unlock prompt. Throws VaultError.
void save(const QString& value, const QString& account);

// The stored value, or nothing when it is not available now. A
// non-interactive read never prompts and never unlocks: a locked keyring, a
// missing item, no keyring at all and a value that is not UTF-8 all read as
// nothing. An interactive read may show the unlock prompt and waits for it.
std::optional<QString> read(const QString& account, bool interactive);

} // namespace Vault

} // namespace quillo
