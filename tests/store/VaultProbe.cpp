// Drives the vault from a child process, so tests can point it at a bus of
// their choosing through the environment.
//   vault-probe save ACCOUNT                value on stdin; 0, or 1 with the message
//   vault-probe read ACCOUNT [interactive]  value on stdout; 0, or 2 when absent
#include "store/Vault.h"

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>

int main(int argc, char** argv) {
    const QString account = QString::fromUtf8(argv[2]);
    if (std::string_view(argv[1]) != "save") {
        const auto value = quillo::Vault::read(account, argc > 3);
        std::fputs(value.value_or(QString()).toUtf8().constData(), stdout);
        return value ? 0 : 2;
    }
    try {
        quillo::Vault::save(QString::fromStdString({std::istreambuf_iterator<char>(std::cin), {}}),
                            account);
    } catch (const quillo::VaultError& error) {
        std::fprintf(stderr, "Could not save: %s\n", error.what());
        return 1;
    }
    return 0;
}
