#!/usr/bin/env bash
# On a fresh Debian 12 machine: installs what is missing, builds, and shows the
# agent at work. Until the tray application lands, that is render mode turning
# a sample issue into both display frames.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh

demo=build/demo
mkdir -p "$demo"
build/bench/quillo-sample-issue "$demo/sample-issue.pdf" 2
echo "Sample issue: $demo/sample-issue.pdf"
for model in og x; do
    printf '{"pdf":"%s","output":"%s","model":"%s"}' \
        "$demo/sample-issue.pdf" "$demo/sample-issue.$model.display.png" "$model" |
        build/bin/quillo-bar --render-display-stdin
    echo "  frame for model $model: $demo/sample-issue.$model.display.png"
done
