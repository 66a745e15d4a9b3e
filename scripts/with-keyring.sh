#!/usr/bin/env bash
# Inside a D-Bus session: starts gnome-keyring-daemon's Secret Service with an
# unlocked default ("login") collection, then runs the given command.
set -euo pipefail
printf 'quillo-tests' | gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null
# The service answers on the bus once the daemon has claimed its name.
for _ in $(seq 50); do
    if dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
        grep -q 'boolean true'; then
        break
    fi
    sleep 0.1
done
exec "$@"
