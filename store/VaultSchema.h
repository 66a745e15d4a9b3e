// The keyring schema of the vault's items: the fixed service and the account.
#pragma once

#include <libsecret/secret.h>

namespace quillo {

const SecretSchema& vaultSchema();

} // namespace quillo
