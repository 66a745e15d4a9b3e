#!/usr/bin/env bash
# On a fresh Debian 12 machine: installs what is missing, builds, and runs every
# test inside a private D-Bus session with a real gnome-keyring-daemon, a
# throw-away home and Qt's offscreen platform, so no test touches this
# machine's own keyring or preferences.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh

# Everything private lives in one folder only this user can enter. Tests that
# reach the keyring check that the marker names it and that the home, the XDG
# folders and the bus socket lie inside it; anywhere else they skip.
sandbox=$(mktemp -d /tmp/quillo-tests.XXXXXX)
trap 'rm -rf "$sandbox"' EXIT
mkdir -p "$sandbox/home" "$sandbox/runtime" "$sandbox/bus"
chmod 700 "$sandbox/runtime"
cat >"$sandbox/bus.conf" <<CONF
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:dir=$sandbox/bus</listen>
  <auth>EXTERNAL</auth>
  <standard_session_servicedirs/>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF

env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY \
    QUILLO_TEST_SANDBOX="$sandbox" \
    HOME="$sandbox/home" \
    XDG_CONFIG_HOME="$sandbox/home/.config" \
    XDG_DATA_HOME="$sandbox/home/.local/share" \
    XDG_CACHE_HOME="$sandbox/home/.cache" \
    XDG_RUNTIME_DIR="$sandbox/runtime" \
    QT_QPA_PLATFORM=offscreen \
    dbus-run-session --config-file="$sandbox/bus.conf" -- scripts/with-keyring.sh \
    ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"
