#!/usr/bin/env bash
# The whole test suite on a fresh Debian 12 machine: installs what is missing, builds the
# 32-bit module, the 64-bit Windows tests, the native portable tests and the fuzz targets, and
# runs CTest on each test build. Ends with one line that names the tests that were skipped and
# says why (those of the real 32-bit module, where 32-bit Wine could not be installed or runs
# only under emulation), then the count of all of them; exits 0 only when none failed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
jobs=$(nproc)
for preset in win32 win64 native fuzz; do
  echo "== configure and build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

status=0 passed=0 failed=0 skipped=0
log=$(mktemp)
trap 'rm -f "$log" "$log.reasons" "$log.skipped"' EXIT
for preset in native fuzz win64; do
  echo "== tests: $preset"
  if ! ctest --preset "$preset" -j "$jobs" 2>&1 | tee "$log"; then status=1; fi
  # "97% tests passed, 1 tests failed out of 31"; skipped tests are among the passed there.
  total=0 failures=0
  read -r total failures < <(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2 \1/p' "$log" | tail -n1) || true
  skips=$(grep -c '(Skipped)$' "$log" || true)
  sed -n 's/^.* - \(.*\) (Skipped)$/\1/p' "$log" >>"$log.skipped"
  passed=$((passed + ${total:-0} - ${failures:-0} - skips))
  failed=$((failed + ${failures:-0}))
  skipped=$((skipped + skips))
  # Each skipped test printed its reason on a line of its own.
  grep -h '^skipped: ' "build/$preset/Testing/Temporary/LastTest.log" 2>/dev/null >>"$log.reasons" || true
done
if [ "$skipped" -gt 0 ]; then
  reasons=$(sed 's/^skipped: //' "$log.reasons" | sort -u)
  [ -n "$reasons" ] || reasons="no reason given"
  echo "skipped $skipped tests ($(paste -sd ' ' "$log.skipped")): $(echo "$reasons" | paste -sd '|' - | sed 's/|/ | /g')"
fi
echo "tests: $passed passed, $failed failed, $skipped skipped"
exit $status
