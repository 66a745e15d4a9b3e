#!/usr/bin/env bash
# On a fresh Debian 12 machine: installs what is missing, builds, and starts the
# agent from the build tree on this desktop session, in the tray. It keeps
# running until "Quit Quillo" in its menu (or Ctrl-C here); starting it again
# while it runs shows its settings window instead. Arguments are passed on
# (--show-settings, --preview-settings).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No desktop session here: run this from a terminal on your desktop." >&2
    exit 1
fi
exec build/bin/quillo-bar "$@"
