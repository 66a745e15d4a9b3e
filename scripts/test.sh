#!/usr/bin/env bash
# On a fresh Debian 12 machine: installs what is missing, builds, and runs every
# test inside a private D-Bus session with a real gnome-keyring-daemon, a
# throw-away home and Qt's offscreen platform, so no test touches this
# machine's own keyring or preferences.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh

sandbox=$(mktemp -d /tmp/quillo-tests.XXXXXX)
trap 'rm -rf "$sandbox"' EXIT
mkdir -p "$sandbox/home" "$sandbox/runtime"
chmod 700 "$sandbox/runtime"

env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY \
    HOME="$sandbox/home" \
    XDG_CONFIG_HOME="$sandbox/home/.config" \
    XDG_DATA_HOME="$sandbox/home/.local/share" \
    XDG_CACHE_HOME="$sandbox/home/.cache" \
    XDG_RUNTIME_DIR="$sandbox/runtime" \
    QT_QPA_PLATFORM=offscreen \
    dbus-run-session -- scripts/with-keyring.sh \
    ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"
