#!/usr/bin/env bash
# Times render mode as users call it (a whole process) on a dense front page,
# beside `mutool draw -c gray` and `pdftoppm -mono` at the same output height,
# with peak memory, then the in-process render against MuPDF's bare draw.
# Usage: bench/run.sh [build-dir]   (needs hyperfine, mupdf-tools, poppler-utils, time)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target quillo-bar quillo-sample-issue render_benchmark >/dev/null

work=$(mktemp -d /tmp/quillo-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
"$build/bench/quillo-sample-issue" "$work/issue.pdf" 2
bar=$(realpath "$build/bin/quillo-bar")

peak_kib() { # median of 7 runs of /usr/bin/time's maximum resident set size
    for _ in 1 2 3 4 5 6 7; do
        /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1
    done | sort -n | sed -n 4p
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
echo "mupdf $(mutool -v 2>&1 | awk '{print $3}'), $(hyperfine --version)"
for model in og x; do
    if [ "$model" = og ]; then height=480; else height=1404; fi
    printf '{"pdf":"%s","output":"%s","model":"%s"}' \
        "$work/issue.pdf" "$work/frame-$model.png" "$model" >"$work/request-$model.json"
    echo
    echo "== model $model (output height $height) =="
    hyperfine --warmup 5 --runs 40 --style basic --export-json "$work/$model.json" \
        -n "quillo-bar render mode" "$bar --render-display-stdin < $work/request-$model.json" \
        -n "mutool draw -c gray" "mutool draw -q -c gray -h $height -o $work/mutool-$model.png $work/issue.pdf 1" \
        -n "pdftoppm -mono" "pdftoppm -mono -f 1 -l 1 -singlefile -scale-to-y $height -scale-to-x -1 $work/issue.pdf $work/pdftoppm-$model" \
        | grep -E '^(Benchmark|  Time)'
    python3 - "$work/$model.json" <<'PY' 2>/dev/null || true
import json, statistics, sys
results = json.load(open(sys.argv[1]))["results"]
medians = {r["command"]: statistics.median(r["times"]) * 1000 for r in results}
ours, mutool = medians["quillo-bar render mode"], medians["mutool draw -c gray"]
for name, value in medians.items():
    print(f"median {name}: {value:.1f} ms")
print(f"render mode / mutool (median): {ours / mutool:.2f}x")
PY
    ours_kib=$(peak_kib sh -c "$bar --render-display-stdin < $work/request-$model.json")
    mutool_kib=$(peak_kib mutool draw -q -c gray -h "$height" -o "$work/m.png" "$work/issue.pdf" 1)
    pdftoppm_kib=$(peak_kib pdftoppm -mono -f 1 -l 1 -singlefile -scale-to-y "$height" -scale-to-x -1 "$work/issue.pdf" "$work/p")
    echo "peak RSS (median of 7): render mode ${ours_kib} KiB, mutool ${mutool_kib} KiB, pdftoppm ${pdftoppm_kib} KiB"
    awk -v a="$ours_kib" -v b="$mutool_kib" 'BEGIN { printf "render mode / mutool (peak memory): %.2fx\n", a / b }'
done

echo
echo "== in process: whole render against MuPDF's bare draw =="
"$build/bench/render_benchmark" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    2>/dev/null | grep -E 'median|Benchmark'
