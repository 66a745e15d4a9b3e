#!/usr/bin/env bash
# On a fresh Debian 12 machine: installs what is missing, builds the agent
# (no tests), and starts it from the build tree on this desktop session. It
# keeps running until "Quit Quillo" in its menu (or Ctrl-C here); starting it
# again while it runs shows its settings window instead. Arguments are passed
# on (--show-settings, --preview-settings).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No desktop session here: run this from a terminal on your desktop." >&2
    exit 1
fi
scripts/install-deps.sh --run
scripts/build.sh --agent

cat <<TEXT
Quillo is running from $PWD/build.
Its newspaper icon is in your panel's tray; where no tray shows it, its
window "Quillo" opens instead, with the tray's menu behind the button in its
header. To stop it, choose "Quit Quillo" in that menu, or press Ctrl-C here.
TEXT
exec build/bin/quillo-bar "$@"
