// Drives the vault from a child process, so tests can point it at a bus of
// their choosing through the environment.
//   vault-probe save ACCOUNT                value on stdin; 0, or 1 with the message
//   vault-probe read ACCOUNT [interactive]  value on stdout; 0, or 2 when absent,
//                                           with the problem and keyring on stderr
#include "store/Vault.h"

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>

int main(int argc, char** argv) {
    const QString account = QString::fromUtf8(argv[2]);
    const auto problem = [](const quillo::VaultLookup& found) {
        static const char* const names[] = {"none",      "missing",  "locked", "dismissed",
                                            "noService", "timedOut", "refused"};
        return QStringLiteral("%1 %2\n")
            .arg(QString::fromLatin1(names[static_cast<int>(found.problem)]), found.keyring)
            .toUtf8();
    };
    if (std::string_view(argv[1]) != "save") {
        const auto found = quillo::Vault::lookup(account, argc > 3);
        std::fputs(found.value.value_or(QString()).toUtf8().constData(), stdout);
        if (!found.value) {
            std::fputs(problem(found).constData(), stderr);
        }
        return found.value ? 0 : 2;
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
