#!/usr/bin/env bash
# Times the agent's five-minute check when nothing changed: the whole
# `quillo-print download --max-pages 1` process against the local newspaper
# service, beside curl making the same one HTTPS request with the same CA.
# The two alternate run by run, so drift on a shared machine hits both alike.
# hyperfine then times the two the usual way, one after the other.
# Usage: bench/check.sh [build-dir] [runs]   (needs curl, openssl, python3, hyperfine)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-300}
cmake --build "$build" --target quillo-print quillo-issue-check quillo-sample-issue >/dev/null

work=$(mktemp -d /tmp/quillo-check-bench.XXXXXX)
service=""
cleanup() {
    [ -n "$service" ] && kill "$service" 2>/dev/null && wait "$service" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/service" "$work/home"
"$build/bench/quillo-sample-issue" "$work/issue.pdf" 2
/usr/bin/python3 tests/support/newspaper_service.py "$work/service" &
service=$!
for _ in $(seq 200); do [ -f "$work/service/port" ] && break; sleep 0.05; done
port=$(cat "$work/service/port")
token=bench-delivery-key
printf '{"token":"%s","issue":{"id":"2026-12-07","file":"%s","pages":2}}' \
    "$token" "$work/issue.pdf" >"$work/service/script.json"

export HOME="$work/home" XDG_STATE_HOME="$work/home/state" CURL_CA_BUNDLE="$work/service/ca.pem"
export QUILLO_URL="https://127.0.0.1:$port" QUILLO_PRINT_TOKEN="$token"
tool=$(realpath "$build/libexec/quillo/quillo-print")
"$tool" download --max-pages 1 >/dev/null # fills the cache: later checks find nothing new

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
echo "$(curl --version | head -n 1 | cut -d' ' -f1-4); issue $(stat -c %s "$work/issue.pdf") bytes"
/usr/bin/python3 - "$runs" "$tool" "$CURL_CA_BUNDLE" "$QUILLO_URL" "$token" <<'PY'
import os, statistics, subprocess, sys, time

runs, tool, bundle, origin, token = int(sys.argv[1]), *sys.argv[2:]
commands = {
    "quillo-print download": [tool, "download", "--max-pages", "1"],
    "curl, same request": ["curl", "-sf", "--cacert", bundle, "-o", "/dev/null",
                           "-H", f"Authorization: Bearer {token}", "-H", "Accept: application/json",
                           "-A", "quillo-print/bench", f"{origin}/api/v1/delivery/latest?max_pages=1"],
}
wall = {name: [] for name in commands}
cpu = {name: [] for name in commands}
null = os.open(os.devnull, os.O_WRONLY)
for round in range(runs + 10):
    for name, command in commands.items():
        start = time.perf_counter()
        pid = os.posix_spawn(command[0] if command[0].startswith("/") else
                             subprocess.check_output(["which", command[0]], text=True).strip(),
                             command, os.environ, file_actions=[(os.POSIX_SPAWN_DUP2, null, 1)])
        _, status, usage = os.wait4(pid, 0)
        elapsed = time.perf_counter() - start
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit(f"{name} failed")
        if round >= 10:  # warm-up rounds are not counted
            wall[name].append(elapsed * 1000)
            cpu[name].append((usage.ru_utime + usage.ru_stime) * 1000)
print(f"{runs} alternating runs of each after 10 warm-up rounds (milliseconds)")
for name in commands:
    w = sorted(wall[name])
    print(f"{name:24} median {statistics.median(w):6.2f}  p10 {w[len(w) // 10]:6.2f}  "
          f"p90 {w[len(w) * 9 // 10]:6.2f}  CPU median {statistics.median(cpu[name]):6.2f}")
ours, theirs = (statistics.median(wall[name]) for name in commands)
print(f"quillo-print / curl (median wall time): {ours / theirs:.2f}x")
PY

echo
hyperfine -N --warmup 10 --runs 100 --style basic \
    -n "quillo-print download" "$tool download --max-pages 1" \
    -n "curl, same request" "curl -sf --cacert $CURL_CA_BUNDLE -o /dev/null -H 'Authorization: Bearer $token' -A quillo-print/bench $QUILLO_URL/api/v1/delivery/latest?max_pages=1" \
    | grep -E '^(Benchmark|  Time|    [0-9])'
