#!/usr/bin/env bash
# The support daemons end with the process that started them, even one killed
# before it could stop them: cupsd and one relay (started again after cupsd
# was killed, as the fault tests do), the newspaper service and the TCP
# relay. And no_leftovers.py names, ends and fails on what a command leaves.
set -euo pipefail
support=$(realpath "$(dirname "$0")")
work=$(mktemp -d /tmp/quillo-daemons.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Waits up to 30 s for a condition (a shell command).
await() {
    local end=$((SECONDS + 30))
    until eval "$1"; do
        [ "$SECONDS" -lt "$end" ] || { echo "Gave up waiting for: $1" >&2 && exit 1; }
        sleep 0.1
    done
}

# The starter: a shell that starts them all, then waits to be killed (in a
# builtin, so that it leaves no child of its own).
mkfifo "$work/hold"
bash -c '
    set -e
    /usr/bin/python3 "$0/private_cups.py" start "$1/cups" >/dev/null
    kill -9 "$(cat "$1/cups/cupsd.pid")"
    /usr/bin/python3 "$0/private_cups.py" start "$1/cups" >/dev/null
    /usr/bin/python3 "$0/newspaper_service.py" "$1/service" &
    /usr/bin/python3 "$0/tcp_relay.py" 0 1 >"$1/tcp" &
    echo "$!" >"$1/tcp.pid"
    read -r _ <"$1/hold"' "$support" "$work" &
starter=$!
await '[ -s "$work/service/port" ] && [ -s "$work/tcp" ]'
relays=$(pgrep -fc "private_cups.py relay $work/cups ") || true
[ "$relays" = 1 ] || { echo "$relays relays serve one cupsd" >&2; exit 1; }
daemons=("$(cat "$work/cups/cupsd.pid")" "$(cat "$work/cups/relay.pid")"
    "$(cat "$work/service/service.pid")" "$(cat "$work/tcp.pid")")
{ kill -9 "$starter" && wait "$starter"; } 2>/dev/null || true
# Ended, or ended and not yet reaped; those left are named and ended here.
living() { ps -o pid=,stat=,args= -p "$(IFS=,; echo "${daemons[*]}")" | grep -v '^ *[0-9]* Z'; }
if ! (await '! living >/dev/null'); then
    living >&2
    living | while read -r pid _; do kill "$pid"; done
    exit 1
fi

status=0
named=$("$support/no_leftovers.py" sh -c 'sleep 300 >/dev/null 2>&1 & exit 0' 2>&1) || status=$?
[ "$status" = 1 ] && [[ $named =~ ^Left\ behind:\ [0-9]+\ sleep\ 300$ ]] ||
    { echo "no_leftovers.py: status $status, said: $named" >&2; exit 1; }
