#!/usr/bin/env bash
# Configures and builds into build/ (the build tree has the install layout):
# everything, or with --agent only what running the agent needs (no tests,
# fuzz replays or benchmarks). The compiler's output goes to build/build.log;
# the terminal shows one progress line, and the log's end if the build fails.
set -euo pipefail
cd "$(dirname "$0")/.."
everything=ON
[ "${1:-}" = --agent ] && everything=OFF
mkdir -p build
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQUILLO_BUILD_TESTS=$everything \
    -DQUILLO_BUILD_BENCH=$everything >build/configure.log 2>&1 ||
    { cat build/configure.log >&2; exit 1; }
progress() {
    # Make prints "[ 42%] …" before each step.
    local line last=""
    while IFS= read -r line; do
        printf '%s\n' "$line" >>build/build.log
        if [[ $line =~ ^\[\ *([0-9]+)%\] ]] && [ "${BASH_REMATCH[1]}" != "$last" ]; then
            last=${BASH_REMATCH[1]}
            [ -t 1 ] && printf '\rBuilding Quillo… %s%%' "$last"
        fi
    done
    [ -t 1 ] && printf '\r\033[K'
    return 0
}
: >build/build.log
echo "Building Quillo into build/ (the compiler's output: build/build.log)"
if ! cmake --build build -j "$(nproc)" 2>&1 | progress; then
    tail -n 40 build/build.log >&2
    echo "The build failed; the whole output is in build/build.log." >&2
    exit 1
fi
