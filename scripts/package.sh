#!/usr/bin/env bash
# On a fresh Debian 12 machine: installs what is missing, builds the Release
# tree and packs it as build/package/quillo_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
rm -rf build/package
(cd build && cpack -G DEB >/dev/null)
ls build/package/*.deb
