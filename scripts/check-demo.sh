#!/usr/bin/env bash
# The demo's short form on the test display: every run must end with exit code 0 (the demo
# fails otherwise) and leave its pictures, and each "after" picture must differ from its
# "before" by the effect: many pixels changed, yet about as bright as before, not black. Its
# log, not a terminal, has one line for each run and no rewritten progress lines.
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
out="$build/demo-check"
rm -rf "$out"
bash "$root/scripts/demo.sh" --headless --no-build --module 64 --seconds 3 --state "$build" \
  --out "$out" | tee "$build/demo-check.log"

status=0
runs=$(grep -c '^\[[1-6]/6\] .*exit code' "$build/demo-check.log" || true)
if [ "$runs" != 6 ] || grep -q $'\r' "$build/demo-check.log"; then
  echo "the log should have one line for each of the 6 runs and no carriage returns"
  status=1
fi

mean() { convert "$1" -colorspace Gray -format '%[fx:mean]' info:; }
for name in gradual-rounded gradual-lossy faster-rounded faster-lossy melting-rounded melting-lossy; do
  for file in "$name-before.png" "$name-after.png" "$name-before-after.png" "$name.gif"; do
    [ -s "$out/$file" ] || { echo "missing $file"; status=1; }
  done
  [ -s "$out/$name-after.png" ] || continue
  changed=$(compare -metric AE "$out/$name-before.png" "$out/$name-after.png" null: 2>&1 || true)
  before=$(mean "$out/$name-before.png")
  after=$(mean "$out/$name-after.png")
  frames=$(identify "$out/$name.gif" | wc -l)
  echo "$name: $changed pixels changed, brightness $before -> $after, $frames frames"
  awk -v c="$changed" -v b="$before" -v a="$after" -v f="$frames" 'BEGIN {
    exit !(c > 2000 && b > 0.1 && a > 0.8 * b && a < 1.2 * b && f >= 2) }' ||
    { echo "$name: not the melting desktop"; status=1; }
done
exit $status
