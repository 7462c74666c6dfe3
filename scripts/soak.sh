#!/usr/bin/env bash
# The saver's long run: Vandrel.scr /s full screen under Wine for ten minutes, watched for its
# memory, handles, GDI objects, tick rate and processor share (its own, and with the
# wineserver and the X server that work for it), then ended by one pointer move.
#
#   scripts/soak.sh                  600 s, a sample every 10 s, on a virtual 1920x1080 display
#   scripts/soak.sh --seconds N      N seconds instead
#   scripts/soak.sh --interval N     a sample every N seconds
#   scripts/soak.sh --display        on the current display ($DISPLAY) instead; the saver then
#                                    covers your desktop and any pointer move ends the run
#
# Runs the 64-bit build of the module (the same code as Vandrel.scr, at native speed under
# 64-bit Wine). Prints a table and a summary, keeps them in build/soak/soak-DATE.log, and exits
# with saver_soak's code: 0 when everything held, 1 when a check failed, 2 when the run could
# not be made.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=600 interval=10 on_display=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift ;;
    --interval) interval=$2; shift ;;
    --display) on_display=1 ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) echo "soak: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done

say() { echo "soak: $*"; }

bash scripts/bootstrap.sh
say "building the 64-bit Vandrel.scr and saver_soak"
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target saver_soak >/dev/null

# A Wine world of its own, so that a test run elsewhere shares neither its screen nor its
# pointer; its display and server end with it.
if [ $on_display = 0 ]; then
  unset DISPLAY
elif [ -z "${DISPLAY:-}" ]; then
  echo "soak: --display needs DISPLAY set" >&2
  exit 2
fi
state=build/soak
mkdir -p "$state"
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
finish() { wine_env_stop "$state"; }
trap finish EXIT
if [ ! -f "$state/wine/prefix/system.reg" ]; then
  say "creating a Wine prefix in $state/wine (once; a few minutes)"
fi
wine_env_prepare "$state"

log="$root/$state/soak-$(date +%Y%m%d-%H%M%S).log"
say "display $DISPLAY, log $log"
{
  echo "soak: $(date -u '+%Y-%m-%d %H:%M:%S UTC'), commit $(git rev-parse --short HEAD)," \
    "$(nproc) processors, load average $(cut -d' ' -f1-3 /proc/loadavg)"
} | tee "$log"
set +e
# Line by line through the filter (which drops the Windows console's carriage returns), so the
# table grows on the screen and in the log while the run goes on.
"$(wine_env_loader)" build/win64/bench/saver_soak.exe "$root/build/win64/Vandrel.scr" \
  "$seconds" "$interval" | sed -u 's/\r$//' | tee -a "$log"
code=${PIPESTATUS[0]}
set -e
echo "soak: load average at the end $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$log"
say "saver_soak exited with $code; log $log"
exit "$code"
