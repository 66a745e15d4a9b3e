#!/usr/bin/env bash
# Times render mode as users call it (a whole process, request on standard
# input) on a dense front page against `mutool draw` at the same output height:
# the PGM row (rasterization alone) is the reference, the PNG row sits beside
# it. The commands run in alternating rounds of two runs each, so a busy
# neighbour slows all of them alike; CPU time (user + system) stands beside
# each, a steadier figure on a busy machine. Then peak memory, render mode's start-up (an empty
# request) with the dynamic linker's statistics, and the in-process render
# against MuPDF's bare draw.
# Usage: [BEFORE=other/bin/quillo-bar] bench/run.sh [build-dir] [rounds]
#   BEFORE adds another build's render mode to the same alternating rounds.
#   (needs hyperfine, mupdf-tools, time, python3)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-20}
cmake --build "$build" --target quillo-bar quillo-sample-issue render_benchmark >/dev/null

work=$(mktemp -d /tmp/quillo-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
"$build/bench/quillo-sample-issue" "$work/issue.pdf" 2
bar=$(realpath "$build/bin/quillo-bar")
: >"$work/empty.json"

peak_kib() { # median of 7 runs of /usr/bin/time's maximum resident set size
    local input=$1
    shift
    for _ in 1 2 3 4 5 6 7; do
        /usr/bin/time -f %M "$@" <"$input" 2>&1 >/dev/null | tail -n 1
    done | sort -n | sed -n 4p
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
    "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)"
echo "mupdf $(mutool -v 2>&1 | awk '{print $3}'), $(hyperfine --version), load $(cut -d' ' -f1-3 /proc/loadavg)"

commands=()
for model in og x; do
    if [ "$model" = og ]; then height=480; else height=1404; fi
    printf '{"pdf":"%s","output":"%s","model":"%s"}' \
        "$work/issue.pdf" "$work/frame-$model.png" "$model" >"$work/request-$model.json"
    if [ -n "${BEFORE:-}" ]; then
        commands+=(-n "$model before" "$BEFORE --render-display-stdin < $work/request-$model.json")
    fi
    commands+=(-n "$model render mode" "$bar --render-display-stdin < $work/request-$model.json"
        -n "$model mutool PGM" "mutool draw -q -c gray -h $height -o $work/mutool-$model.pgm $work/issue.pdf 1"
        -n "$model mutool PNG" "mutool draw -q -c gray -h $height -o $work/mutool-$model.png $work/issue.pdf 1")
done
if [ -n "${BEFORE:-}" ]; then
    commands+=(-n "start-up before" "$BEFORE --render-display-stdin < $work/empty.json")
fi
commands+=(-n "start-up render mode" "$bar --render-display-stdin < $work/empty.json"
    -n "start-up mutool" "mutool draw -q 2>/dev/null || true")

hyperfine --warmup 3 --runs 5 --style none -i "${commands[@]}" >/dev/null 2>&1
for round in $(seq "$rounds"); do
    hyperfine --runs 2 --style none -i --export-json "$work/round-$round.json" "${commands[@]}" \
        >/dev/null 2>&1
done
/usr/bin/python3 - "$work"/round-*.json <<'PY'
import json, statistics, sys
times = {}
cpu = {}  # user + system, the mean of each round's runs
for path in sys.argv[1:]:
    for result in json.load(open(path))["results"]:
        times.setdefault(result["command"], []).extend(result["times"])
        cpu.setdefault(result["command"], []).append(result["user"] + result["system"])
def median(name): return statistics.median(times[name]) * 1000
def spread(name):
    values = sorted(times[name])
    return (values[len(values) // 4] * 1000, values[3 * len(values) // 4] * 1000)
print(f"\n{len(next(iter(times.values())))} runs per command, medians (interquartile range),"
      " and CPU time (user + system, median of the rounds):")
for name in times:
    low, high = spread(name)
    print(f"  {name:22} {median(name):6.1f} ms  ({low:.1f}-{high:.1f})"
          f"  CPU {statistics.median(cpu[name]) * 1000:5.1f} ms")
for model in ("og", "x"):
    for ours in (f"{model} before", f"{model} render mode"):
        if ours in times:
            print(f"  {ours}: / mutool PGM = {median(ours) / median(f'{model} mutool PGM'):.2f}x, "
                  f"/ mutool PNG = {median(ours) / median(f'{model} mutool PNG'):.2f}x")
PY

echo
echo "peak RSS (median of 7 runs of /usr/bin/time -f %M):"
for model in og x; do
    if [ "$model" = og ]; then height=480; else height=1404; fi
    ours=$(peak_kib "$work/request-$model.json" "$bar" --render-display-stdin)
    pgm=$(peak_kib /dev/null mutool draw -q -c gray -h "$height" -o "$work/m.pgm" "$work/issue.pdf" 1)
    awk -v m="$model" -v a="$ours" -v b="$pgm" \
        'BEGIN { printf "  %s: render mode %d KiB, mutool PGM %d KiB, ratio %.2fx\n", m, a, b, a / b }'
    if [ -n "${BEFORE:-}" ]; then
        echo "  $model: before $(peak_kib "$work/request-$model.json" "$BEFORE" --render-display-stdin) KiB"
    fi
done

echo
echo "dynamic linking of render mode (LD_DEBUG=statistics, an empty request):"
{ LD_DEBUG=statistics "$bar" --render-display-stdin <"$work/empty.json" 2>&1 || true; } |
    grep -E 'total startup time|number of relocations' | sed 's/^ *[0-9]*: *\t*/  /'

echo
echo "== in process: whole render against MuPDF's bare draw =="
"$build/bench/render_benchmark" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    2>/dev/null | grep -E 'median|Benchmark'
