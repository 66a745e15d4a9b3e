// The two secrets, kept in the desktop's keyring (the freedesktop Secret
// Service) rather than in the preferences file.
#pragma once

#include <QLatin1StringView>
#include <QString>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace quillo {

// Keyring accounts of the two secrets. The delivery key's account keeps the
// name it was first stored under.
namespace SecretAccount {
inline constexpr QLatin1StringView deliveryKey{"print-token"};
inline constexpr QLatin1StringView einkWebhook{"eink-webhook"};
} // namespace SecretAccount

// The service attribute of every item: one fixed identifier for the product.
inline constexpr std::string_view vaultService = "news.quillo.printer";

// Why the keyring did not hand over a secret; each gives the reader its own line.
enum class KeyringProblem : std::uint8_t {
    none,
    // No item for the account.
    missing,
    // The item's keyring is locked and the call could not prompt.
    locked,
    // The keyring's unlock prompt was dismissed.
    dismissed,
    noService,
    timedOut,
    // Anything else the keyring refused.
    refused,
};

// A failed keyring call. what() is a user-facing sentence (callers prefix it
// with "Could not save: "); code() is the keyring's own error code.
class VaultError final : public std::exception {
public:
    VaultError(int code, std::string message, KeyringProblem problem = KeyringProblem::refused)
        : code_(code), message_(std::move(message)), problem_(problem) {}

    [[nodiscard]] int code() const noexcept { return code_; }
    [[nodiscard]] const char* what() const noexcept override { return message_.c_str(); }
    [[nodiscard]] KeyringProblem problem() const noexcept { return problem_; }

private:
    int code_;
    std::string message_;
    KeyringProblem problem_;
};

// What a read or a probe found. A value, or the problem; `keyring` names the
// locked keyring that holds the item (its label, e.g. "Login").
struct VaultLookup {
    std::optional<QString> value;
    KeyringProblem problem = KeyringProblem::none;
    QString keyring;
    // The keyring's own words for a refusal.
    QString detail;
};

// Blocking and callable from any thread. No call waits on the keyring without
// a bound: a keyring that does not answer counts as a failure or as absence.
namespace Vault {

// Replaces the value stored under the account, or creates the item in the
// default collection. May show the keyring's unlock prompt. Throws VaultError.
void save(const QString& value, const QString& account);

// The stored value, or why it is not available now. A non-interactive read
// never prompts and never unlocks: a locked keyring, a missing item, no
// keyring at all and a value that is not UTF-8 all read as no value. An
// interactive read may show the unlock prompt and waits for it. Items are
// found by service and account whatever their keyring's state, so an
// interactive read of a locked keyring shows the keyring's own unlock prompt.
VaultLookup lookup(const QString& account, bool interactive);

// Whether the account's item exists, without reading it and without a prompt:
// problem none (stored and unlocked), missing, locked, or why the keyring
// could not say. Never carries a value.
VaultLookup probe(const QString& account);

} // namespace Vault

} // namespace quillo
