#!/usr/bin/env bash
# The running agent's cost while it waits between two schedule firings: under
# Xvfb, on a private bus with a keyring and the tests' tray watcher, the agent
# from build/ starts in the tray as an authorized build with a delivery key
# (its launch check fails at once against a closed local port), settles (the
# thread pool lets idle workers go after 30 s), and is then watched for a
# minute by perf and the kernel's per-thread counters of context switches, a
# minute under strace (system calls), and its memory is read.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

if [ "${QUILLO_IDLE_INSIDE:-}" != 1 ]; then
    work=$(mktemp -d /tmp/quillo-idle.XXXXXX)
    trap 'kill "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
    mkdir -p "$work/home" "$work/config/quillo" "$work/runtime"
    chmod 700 "$work/runtime"
    Xvfb -displayfd 3 -nolisten tcp 3>"$work/display" 2>/dev/null &
    xvfb=$!
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    env -u DBUS_SESSION_BUS_ADDRESS -u WAYLAND_DISPLAY \
        QUILLO_IDLE_INSIDE=1 QUILLO_IDLE_WORK="$work" HOME="$work/home" \
        XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" \
        DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb \
        dbus-run-session -- scripts/with-keyring.sh "$0" "$seconds"
    exit
fi

work=$QUILLO_IDLE_WORK
mkfifo "$work/shell-in"
/usr/bin/python3 tests/support/tray_shell.py <"$work/shell-in" >"$work/shell" &
exec 4>"$work/shell-in"
printf 'idle-key' | build/tests/store/vault-probe save print-token
fingerprint=$(cat build/bin/quillo-bar build/share/quillo/build-manifest | sha256sum | cut -d' ' -f1)
printf '[General]\nauthorizedBuild=%s\ndidShowWelcome=true\norigin=https://127.0.0.1:9\n' \
    "$fingerprint" >"$work/config/quillo/quillo-bar.conf"

build/bin/quillo-bar &
agent=$!
sleep 40

echo read >&4
sleep 1
echo "the tray as the watcher reads it: $(tail -n1 "$work/shell" | cut -c1-160)…"
echo "threads: $(ls /proc/"$agent"/task | wc -l)"
grep -E 'VmRSS|VmHWM' /proc/"$agent"/status
# Voluntary and involuntary switches of every thread: each wake-up is one.
switches() {
    cat /proc/"$agent"/task/*/status | awk '/ctxt_switches/ { total += $2 } END { print total }'
}
before=$(switches)
perf stat -e context-switches,task-clock -p "$agent" -- sleep "$seconds" 2>&1 |
    grep -E 'context-switches|task-clock' | sed 's/^/perf stat: /'
echo "context switches of its $(ls /proc/"$agent"/task | wc -l) threads in ${seconds} s:" \
    "$(($(switches) - before))"
echo "system calls in ${seconds} s under strace -f -c (no table: none):"
timeout -s INT "$seconds" strace -f -c -p "$agent" 2>&1 | grep -v -E 'attached|detached' || true
grep -E 'VmRSS' /proc/"$agent"/status
kill "$agent"
exec 4>&-
