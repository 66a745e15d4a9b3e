// Prints the build fingerprint the agent computes for the install tree at ROOT.
#include "store/BuildFingerprint.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        return 64;
    }
    std::puts(qPrintable(quillo::buildFingerprint(argv[1])));
    return 0;
}
