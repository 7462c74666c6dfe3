#!/usr/bin/env bash
# saver_soak against a stand-in that has every fault it looks for; passes when saver_soak fails
# the run (exit code 1) and names each fault:
#   check-soak-faults.sh BUILD_DIR SAVER_SOAK_EXE FAULT_DOUBLE_EXE
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
build=$1 soak=$2 double=$3
out=$("$here/../scripts/wine-run.sh" "$build" "$soak" "$double" 16 2 | tr -d '\r')
code=$?
echo "$out"
status=0
if [ $code -ne 1 ]; then
  echo "check-soak-faults: saver_soak exited with $code, not 1" >&2
  status=1
fi
for fault in "handles grew beyond its slack" "GDI objects grew beyond its slack" \
  "private MB grew beyond its slack" "working set MB grew beyond its slack" \
  "an interval ticked at less than half the median" \
  "the saver did not close on the pointer move"; do
  if ! grep -qx "FAIL: $fault" <<<"$out"; then
    echo "check-soak-faults: not reported: $fault" >&2
    status=1
  fi
done
exit $status
