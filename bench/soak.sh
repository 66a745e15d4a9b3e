#!/usr/bin/env bash
# A month of the agent's five-minute checks in fast motion: one agent process
# (bench/soak_agent.cpp) runs 8,640 checks with automatic delivery on, through
# the real companion tool and renderer, against the local newspaper service,
# which publishes a new issue every 288 checks (a day); each issue goes to a
# private CUPS and the service's TRMNL-like webhook. Every 1,000 checks the
# agent prints its RSS, open descriptors, threads and child processes; at the
# end this script shows the jobs CUPS printed and what is left in the feed and
# state folders. Touches nothing of the reader's: everything lives in a
# throw-away profile under /tmp, stopped by process id and removed at the end.
# Usage: bench/soak.sh [build-dir] [checks] [checks-per-day]   (not run by CI)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
checks=${2:-8640}
per_day=${3:-288}
# A copy of a build tree (bin, lib, libexec, share, bench) runs as it is.
[ ! -f "$build/CMakeCache.txt" ] || cmake --build "$build" --target soak-agent quillo-print quillo-bar quillo-sample-issue \
    quillo-issue-check quillo-print-job >/dev/null

profile=$(mktemp -d /tmp/quillo-soak.XXXXXX)
service=""
cleanup() {
    [ -n "$service" ] && kill "$service" 2>/dev/null && wait "$service" 2>/dev/null
    [ -f "$profile/cups/cupsd.pid" ] && /usr/bin/python3 tests/support/private_cups.py stop "$profile/cups"
    rm -rf "$profile"
}
trap cleanup EXIT
# CUPS runs the queue's filter as lp, which must reach it through this folder.
chmod 711 "$profile"
mkdir -m 700 "$profile"/{home,config,data,cache,state,runtime}
mkdir "$profile/service"

"$build/bench/quillo-sample-issue" "$profile/issue.pdf" 2
/usr/bin/python3 tests/support/newspaper_service.py "$profile/service" &
service=$!
for _ in $(seq 200); do [ -s "$profile/service/port" ] && break; sleep 0.05; done
cups=$(/usr/bin/python3 tests/support/private_cups.py start "$profile/cups")

echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), $(free -g | awk '/Mem:/ {print $2}') GiB"
echo "checks: $checks, a new issue every $per_day; sample issue $(stat -c %s "$profile/issue.pdf") bytes"
start=$(date +%s)
# The secrets live in a keyring of the profile, on a bus of its own.
env -i PATH="$PATH" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen \
    HOME="$profile/home" XDG_CONFIG_HOME="$profile/config" XDG_DATA_HOME="$profile/data" \
    XDG_CACHE_HOME="$profile/cache" XDG_STATE_HOME="$profile/state" \
    XDG_RUNTIME_DIR="$profile/runtime" CUPS_SERVER="$cups" \
    CURL_CA_BUNDLE="$profile/service/ca.pem" \
    dbus-run-session -- scripts/with-keyring.sh \
    "$build/bench/soak-agent" "$profile" "$profile/service" "$profile/issue.pdf" "$checks" "$per_day" ||
    status=$?
echo "took $(($(date +%s) - start)) s"
echo "jobs printed by CUPS: $(wc -l <"$profile/cups/jobs/jobs.log" 2>/dev/null || echo 0)"
echo "left in the feed and state folders:"
(cd "$profile" && find home/.config/quillo config/quillo state/quillo -mindepth 1 2>/dev/null | sort)
exit "${status:-0}"
