#!/usr/bin/env bash
# Runs the saver's surface benchmark under Wine on the 64-bit build's own display:
#   bench/run-saver-bench.sh [step|cpu]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/win64"
cmake --build "$build" --target saver_bench >/dev/null
exec "$root/scripts/wine-run.sh" "$build" "$build/bench/saver_bench.exe" "$@"
