#!/usr/bin/env bash
# clang-format check and clang-tidy over the project's own sources (build/ must exist).
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
run-clang-tidy -p build -quiet "$(pwd)/(kit|store|agent|QuilloBar(/[a-z]+)?|bench|tests)/[^/]*\.cpp$" 2>&1 |
    grep -E '^/.*(warning|error):' || echo "clang-tidy: no findings"
