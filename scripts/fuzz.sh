#!/usr/bin/env bash
# scripts/fuzz.sh [SECONDS]: builds the fuzz targets of tests/fuzz with clang
# (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) into build-fuzz/,
# then runs each for SECONDS (default 60) from its seed corpus. Inputs that
# find new paths go to build-fuzz/corpus/TARGET/, findings to
# build-fuzz/findings/TARGET/; the repository's corpus is only read. A finding
# belongs in tests/fuzz/regressions/TARGET/, where the normal suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
targets=(render_request latest_pointer service_answer frame_header renderer)

scripts/install-deps.sh
cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLO_FUZZ=ON -DQUILLO_SANITIZE=address,undefined \
    -DQUILLO_BUILD_TESTS=OFF -DQUILLO_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target fuzz_targets

# A report names the source line; a finding stops the target at once.
export ASAN_OPTIONS=${ASAN_OPTIONS:-symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
found=0
printf '%-18s %12s %8s  %s\n' target executions corpus findings
for target in "${targets[@]}"; do
    corpus=build-fuzz/corpus/$target
    findings=build-fuzz/findings/$target
    log=build-fuzz/fuzz-$target.log
    mkdir -p "$corpus" "$findings"
    dictionary=tests/fuzz/dictionaries/json.dict
    case $target in
    frame_header) dictionary="" ;;
    renderer) dictionary=tests/fuzz/dictionaries/pdf.dict ;;
    esac
    # Hangs count as findings too: no input should take seconds.
    build-fuzz/tests/fuzz/fuzz_$target -max_total_time="$seconds" -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$findings/" ${dictionary:+-dict="$dictionary"} \
        "$corpus" "tests/fuzz/corpus/$target" >"$log" 2>&1 || true
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
    size=$(find "$corpus" "tests/fuzz/corpus/$target" -type f | wc -l)
    artifacts=$(grep -o "Test unit written to [^ ]*" "$log" | sed 's/Test unit written to //' || true)
    if [ -n "$artifacts" ]; then
        found=1
        printf '%-18s %12s %8s  %s (see %s)\n' "$target" "${executions:-?}" "$size" \
            "$(echo "$artifacts" | tr '\n' ' ')" "$log"
    else
        printf '%-18s %12s %8s  none\n' "$target" "${executions:-?}" "$size"
    fi
done
exit "$found"
