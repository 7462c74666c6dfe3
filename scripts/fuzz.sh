#!/usr/bin/env bash
# Runs each libFuzzer target for a while (default 300 s each) and prints its figures:
# executions, edges reached and corpus size. New inputs stay in build/fuzz. Then replays each
# target's whole corpus through a build with source-based coverage and prints how much of the
# code under test the corpus reaches (lines, regions, branches).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
bash scripts/bootstrap.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
declare -A code_under_test=(
  [command_line]=host/command_line.cpp
  [settings]=settings/settings_rules.cpp
  [smear]=effect/effect.h
  [picture]=effect/wallpaper_rules.cpp
)
coverage=build/fuzz/coverage
mkdir -p "$coverage"
for target in command_line settings smear picture; do
  scratch="build/fuzz/fuzz/corpus-$target"
  mkdir -p "$scratch"
  echo "== $target, $seconds s"
  "build/fuzz/fuzz/${target}_fuzz" -max_total_time="$seconds" -max_len=256 -print_final_stats=1 \
    "$scratch" "fuzz/corpus/$target" 2>&1 |
    grep -E '^(INFO: Loaded|#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb|==|SUMMARY)' || true

  echo "== $target: coverage of ${code_under_test[$target]} by the corpus"
  clang++ -std=c++17 -O1 -fprofile-instr-generate -fcoverage-mapping -fsanitize=fuzzer -I. \
    "fuzz/${target}_fuzz.cpp" host/command_line.cpp effect/sampler.cpp settings/settings_rules.cpp \
    effect/wallpaper_rules.cpp \
    -o "$coverage/$target"
  rm -f "$coverage/$target.profraw"
  LLVM_PROFILE_FILE="$coverage/$target.profraw" "$coverage/$target" -runs=0 \
    "$scratch" "fuzz/corpus/$target" >/dev/null 2>&1
  llvm-profdata merge -sparse "$coverage/$target.profraw" -o "$coverage/$target.profdata"
  llvm-cov report "$coverage/$target" -instr-profile="$coverage/$target.profdata" \
    "${code_under_test[$target]}"
done
