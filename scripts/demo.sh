#!/usr/bin/env bash
# A whole delivery on this machine, touching nothing of yours: starts the local
# newspaper service with a sample issue, a private CUPS whose queue "Quillo"
# prints into a file, and the agent on a throw-away profile (its own home and
# XDG folders, its own D-Bus session and keyring holding a demo delivery key
# and a webhook of the local service, this build already authorized,
# destination printer and display). Everything is stopped, and the profile
# removed, when the agent quits or on Ctrl-C; the printed issue and the frame
# stay in the folder the demo names.
#
#   scripts/demo.sh          the agent's window "Quillo" on your desktop: choose
#                            "Sync now…" in its menu, then "Deliver"
#   scripts/demo.sh --auto   no window and no human: the agent starts and checks,
#                            then one delivery runs; prints the result, exit 0 when
#                            the issue was printed and the frame received
#   --build-dir DIR          use that build tree as it is (installs and builds nothing)
#   --output DIR             keep the printed issue and the frame in DIR (by
#                            default a new folder /tmp/quillo-demo-delivery.*)
set -euo pipefail
auto=false
build=""
output=""
while [ $# -gt 0 ]; do
    case "$1" in
    --auto) auto=true ;;
    --build-dir) build=$(realpath "${2:?--build-dir needs a folder}") && shift ;;
    --output) output=$(realpath -m "${2:?--output needs a folder}") && shift ;;
    *) sed -n '11,19s/^# \{0,1\}//p' "$0" >&2 && exit 2 ;;
    esac
    shift
done
cd "$(dirname "$0")/.."
if ! $auto && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No desktop session here: run this from a terminal on your desktop, or add --auto." >&2
    exit 1
fi
if [ -z "$build" ]; then
    scripts/install-deps.sh
    scripts/build.sh
    build=$(realpath build)
fi

demo=$(mktemp -d /tmp/quillo-demo.XXXXXX)
pids=()
cleanup() {
    local index
    for ((index = ${#pids[@]} - 1; index >= 0; index--)); do
        kill "${pids[index]}" 2>/dev/null || true
        wait "${pids[index]}" 2>/dev/null || true
    done
    /usr/bin/python3 tests/support/private_cups.py stop "$demo/cups"
    rm -rf "$demo"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# Waits up to 30 s for a condition (a shell command).
await() {
    for _ in $(seq 300); do
        eval "$1" && return 0
        sleep 0.1
    done
    echo "Gave up waiting for: $2" >&2
    return 1
}

# The reader's display, reached from the throw-away profile.
export XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}"
if [ -n "${WAYLAND_DISPLAY:-}" ] && [ "${WAYLAND_DISPLAY#/}" = "$WAYLAND_DISPLAY" ]; then
    export WAYLAND_DISPLAY="${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/$WAYLAND_DISPLAY"
fi
# CUPS runs the queue's filter as lp, which must reach it through this folder.
chmod 711 "$demo"
mkdir -m 700 "$demo"/{home,config,data,cache,state,runtime}
export HOME="$demo/home" XDG_CONFIG_HOME="$demo/config" XDG_DATA_HOME="$demo/data" \
    XDG_CACHE_HOME="$demo/cache" XDG_STATE_HOME="$demo/state" XDG_RUNTIME_DIR="$demo/runtime"
$auto && export QT_QPA_PLATFORM=offscreen

echo "The local newspaper service, with a sample issue of two pages"
"$build/bench/quillo-sample-issue" "$demo/issue.pdf" 2
/usr/bin/python3 tests/support/newspaper_service.py "$demo/service" &
pids+=($!)
await '[ -s "$demo/service/port" ]' "the newspaper service"
origin="https://127.0.0.1:$(cat "$demo/service/port")"
token="demo-$(openssl rand -hex 12)"
webhook="$origin/api/plugin_settings/$(cat /proc/sys/kernel/random/uuid)/image"
printf '{"token":"%s","issue":{"id":"%s","file":"%s","pages":2}}\n' \
    "$token" "$(date +%F)" "$demo/issue.pdf" >"$demo/service/script.json"
export CURL_CA_BUNDLE="$demo/service/ca.pem"

echo "A private CUPS with the queue \"Quillo\", printing into a file"
CUPS_SERVER=$(/usr/bin/python3 tests/support/private_cups.py start "$demo/cups")
export CUPS_SERVER

echo "A D-Bus session and keyring of the demo's own"
# No service folders: the bus starts nothing by itself, so everything on it is ours.
cat >"$demo/bus.conf" <<EOF
<busconfig><type>session</type><listen>unix:dir=$demo/runtime</listen>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/></policy></busconfig>
EOF
dbus-daemon --nofork --print-address=1 --config-file="$demo/bus.conf" >"$demo/bus.address" \
    2>/dev/null &
pids+=($!)
await '[ -s "$demo/bus.address" ]' "the D-Bus session"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$demo/bus.address")
export DBUS_SESSION_BUS_ADDRESS
gnome-keyring-daemon --foreground --components=secrets --unlock <<<"quillo-demo" >/dev/null 2>&1 &
pids+=($!)
await 'dbus-send --session --print-reply --reply-timeout=2000 --dest=org.freedesktop.DBus \
    /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
    grep -q "boolean true"' "the keyring"

# The key, the service and the queue as an installer stores them; then the
# webhook, both pages, both destinations and this build's authorization.
printf '{"token":"%s","origin":"%s","printer":"Quillo"}' "$token" "$origin" |
    "$build/bin/quillo-bar" --configure-stdin >/dev/null
printf '%s' "$webhook" | secret-tool store --label="Quillo display webhook" \
    xdg:schema news.quillo.printer service news.quillo.printer account eink-webhook
fingerprint=$(cat "$build/bin/quillo-bar" "$build/share/quillo/build-manifest" | sha256sum)
sed -i 's/^maxPages=.*/maxPages=2/' "$XDG_CONFIG_HOME/quillo/quillo-bar.conf"
cat >>"$XDG_CONFIG_HOME/quillo/quillo-bar.conf" <<EOF
destination=both
displayModel=x
didShowWelcome=true
authorizedBuild=${fingerprint%% *}
EOF

# The frame the stand-in webhook received last, saved as frame.png.
frame_received() {
    local line
    line=$(grep -n '"method": "POST"' "$demo/service/requests.jsonl" 2>/dev/null | tail -n 1)
    [ -n "$line" ] && cp "$demo/service/bodies/$((${line%%:*} - 1))" "$demo/frame.png"
}
printed() {
    [ -s "$demo/cups/printed.pdf" ] && [ -z "$(lpstat -o Quillo 2>/dev/null)" ]
}
report() {
    frame=$(/usr/bin/python3 - "$demo/frame.png" <<'PY'
import struct, sys
width, height, depth, colour = struct.unpack(">IIBB", open(sys.argv[1], "rb").read(26)[16:26])
print(f"{width} x {height}, {depth}-bit {'gray' if colour == 0 else 'colour'} PNG")
PY
)
    same="not the issue"
    cmp -s "$demo/issue.pdf" "$demo/cups/printed.pdf" && same="the issue as published"
    [ -n "$output" ] || output=$(mktemp -d /tmp/quillo-demo-delivery.XXXXXX)
    mkdir -p "$output"
    cp "$demo/cups/printed.pdf" "$demo/frame.png" "$output/"
    echo
    echo "Printed:  $output/printed.pdf ($same)"
    echo "Received: $output/frame.png ($frame, the front page for a TRMNL X)"
    echo "Both stay when the demo ends; rm -r $output removes them."
}

if $auto; then
    echo "The agent starts, authorized, and checks for the issue"
    "$build/bin/quillo-bar" 2>"$demo/agent.log" &
    agent=$!
    pids+=("$agent")
    await 'ls "$HOME"/.config/quillo/feeds/*/latest.json >/dev/null 2>&1' "the agent's first check"
    kill "$agent"
    echo "One delivery, as \"Sync now…\" and \"Deliver\" start it:"
    lines=$("$build/tests/QuilloBar/delivering-agent")
    printf '%s\n' "$lines"
    result=${lines##*$'\n'}
    await printed "the print job"
    await frame_received "the display frame"
    report
    if [ "$result" != "Sent to print queue · Uploaded to TRMNL · awaiting screen refresh" ] ||
        [ "$same" != "the issue as published" ] || [ "$frame" != "1872 x 1404, 1-bit gray PNG" ]; then
        echo "The demo's delivery did not go through." >&2
        exit 1
    fi
    exit 0
fi

"$build/bin/quillo-bar" --show-settings &
agent=$!
pids+=("$agent")
cat <<EOF

Quillo runs on the demo profile, and its window "Quillo" is open. Its menu is
under its newspaper icon where your panel shows it (a panel that takes
old-style tray icons does), and otherwise behind the button in the window's
header: choose "Sync now…" there, then "Deliver". Quit with "Quit Quillo" in
that menu, or Ctrl-C here; the demo's profile and services go then.
EOF
announced=false
while kill -0 "$agent" 2>/dev/null; do
    if ! $announced && printed && frame_received; then
        report
        announced=true
    fi
    sleep 0.5
done
if $announced; then
    echo "The printed issue and the frame stay in $output; rm -r $output removes them."
fi
