#!/usr/bin/env bash
# On a fresh Debian 12 machine: installs what is missing, builds, and runs every
# test inside a private D-Bus session with a real gnome-keyring-daemon, a
# throw-away home and Qt's offscreen platform, so no test touches this
# machine's own keyring or preferences. The tray tests get an Xvfb display of
# their own through QUILLO_TEST_DISPLAY.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh

# Everything private lives in one folder only this user can enter. Tests that
# reach the keyring check that the marker names it and that the home, the XDG
# folders and the bus socket lie inside it; anywhere else they skip.
sandbox=$(mktemp -d /tmp/quillo-tests.XXXXXX)
xvfb=""
trap '[ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null; rm -rf "$sandbox"' EXIT
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

# Xvfb writes its display number once it accepts clients.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$sandbox/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$sandbox/display" ] && break
    sleep 0.1
done
[ -s "$sandbox/display" ] || { echo "Xvfb did not start" >&2; exit 1; }

env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY \
    QUILLO_TEST_SANDBOX="$sandbox" \
    HOME="$sandbox/home" \
    XDG_CONFIG_HOME="$sandbox/home/.config" \
    XDG_DATA_HOME="$sandbox/home/.local/share" \
    XDG_CACHE_HOME="$sandbox/home/.cache" \
    XDG_RUNTIME_DIR="$sandbox/runtime" \
    QT_QPA_PLATFORM=offscreen \
    QUILLO_TEST_DISPLAY=":$(head -n1 "$sandbox/display")" \
    dbus-run-session --config-file="$sandbox/bus.conf" -- scripts/with-keyring.sh \
    ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"
