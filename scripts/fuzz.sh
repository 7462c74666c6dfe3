#!/usr/bin/env bash
# Runs each libFuzzer target for a while (default 300 s each) and prints its figures:
# executions, coverage and corpus size. New inputs stay in build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
bash scripts/bootstrap.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in command_line settings smear; do
  scratch="build/fuzz/fuzz/corpus-$target"
  mkdir -p "$scratch"
  echo "== $target, $seconds s"
  "build/fuzz/fuzz/${target}_fuzz" -max_total_time="$seconds" -max_len=256 -print_final_stats=1 \
    "$scratch" "fuzz/corpus/$target" 2>&1 |
    grep -E '^(INFO: Loaded|#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb|==|SUMMARY)' || true
done
