#!/usr/bin/env bash
# Shows Vandrel melting a desktop.
#
#   scripts/demo.sh                 with a display: the saver full screen over your desktop,
#                                   until you move the pointer or press a key
#   scripts/demo.sh --preview       the live preview inside a window of a control panel's size
#   scripts/demo.sh --config        the settings dialog
#   scripts/demo.sh --headless      no display needed: every method, rounded and lossy, on a
#                                   virtual display over a made-up desktop, with pictures
#
# Options: --seconds N (each headless run, default 6), --long (30 s each), --out DIR (where the
# pictures go, default out/demo), --module 32|64 (which build of the module to run).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

mode=auto seconds=6 out=out/demo module="" state="" nobuild=0
while [ $# -gt 0 ]; do
  case "$1" in
    --headless) mode=headless ;;
    --preview) mode=preview ;;
    --config) mode=config ;;
    --seconds) seconds=$2; shift ;;
    --long) seconds=30 ;;
    --out) out=$2; shift ;;
    --module) module=$2; shift ;;
    --state) state=$2; shift ;;  # a build folder whose Wine prefix and display to use
    --no-build) nobuild=1 ;;     # use what is built (the test suite runs the demo this way)
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) echo "demo: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done
if [ "$mode" = auto ]; then
  if [ -n "${DISPLAY:-}" ]; then mode=fullscreen; else mode=headless; fi
fi

say() { echo "demo: $*"; }

[ $nobuild = 1 ] || bash scripts/bootstrap.sh

# 32-bit Wine runs under emulation where the kernel has no 32-bit support: it then takes about
# a minute to start each program. The 64-bit build of the same code starts at once.
emulated=0
grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386 && emulated=1
if [ -z "$module" ]; then
  if [ $emulated = 1 ]; then module=64; else module=32; fi
fi

if [ $nobuild = 0 ]; then
  say "building Vandrel.scr and the demo desktop"
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 --target Vandrel >/dev/null
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 --target Vandrel desktop_painter >/dev/null
fi
scr="$root/build/win$module/Vandrel.scr"
painter="$root/build/win64/desktop_painter.exe"
if [ "$module" = 64 ] && [ $emulated = 1 ]; then
  say "this kernel runs 32-bit programs only under emulation, so the demo runs the 64-bit"
  say "build of the same code; --module 32 runs build/win32/Vandrel.scr (slow to start here)"
fi

[ "$mode" = headless ] && unset DISPLAY
# A Wine world of the demo's own, ended with the demo; one passed with --state is left running.
own_state=0
if [ -z "$state" ]; then
  state=build/demo
  own_state=1
fi
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
mkdir -p "$state"
if [ ! -f "$state/wine/prefix/system.reg" ]; then
  say "creating a Wine prefix in $state/wine (once; a few minutes)"
fi
wine_env_prepare "$state"
loader=$(wine_env_loader)
wine() { "$loader" "$@"; }

case "$mode" in
  fullscreen)
    say "running the saver over your desktop; move the pointer or press a key to end it"
    set +e
    wine "$scr" /s
    code=$?
    set -e
    say "Vandrel.scr /s exited with code $code"
    exit 0
    ;;
  preview)
    say "opening a preview window; close it to end the preview"
    wine "$painter" preview | while read -r line; do
      line=${line%$'\r'}  # the Windows console ends its lines with CR LF
      case "$line" in
        hwnd\ *)
          wine "$scr" /p "${line#hwnd }" &
          ;;
      esac
    done
    wait || true
    exit 0
    ;;
  config)
    set +e
    wine "$scr" /c
    code=$?
    set -e
    say "Vandrel.scr /c exited with code $code (1: settings stored, 0: cancelled)"
    exit 0
    ;;
esac

# Headless: a made-up desktop on the virtual display, then one run per method and average.
mkdir -p "$out"
out=$(cd "$out" && pwd)
frames=$(mktemp -d)
finish() {
  rm -rf "$frames"
  [ -n "${painter_pid:-}" ] && kill "$painter_pid" 2>/dev/null
  [ $own_state = 1 ] && wine_env_stop "$state"
  true
}
trap finish EXIT

say "virtual display $DISPLAY: painting the demo desktop"
wine "$painter" >"$frames/painter.log" 2>&1 &
painter_pid=$!
for _ in $(seq 100); do
  grep -q painted "$frames/painter.log" 2>/dev/null && break
  sleep 0.1
done
sleep 1

names=("" "gradual" "faster" "melting")
titles=("" "Method 1 - Gradual" "Method 2 - Faster" "Method 3 - Melting")
total=6 run=0 failures=0
for method in 1 2 3; do
  for lossy in 0 1; do
    run=$((run + 1))
    average=rounded
    [ $lossy = 1 ] && average=lossy
    name="${names[$method]}-$average"
    wine reg add 'HKCU\Software\Quorvel\Vandrel' /v Method /t REG_DWORD /d $method /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Quorvel\Vandrel' /v Lossy /t REG_DWORD /d $lossy /f >/dev/null 2>&1
    xdotool mousemove 960 540
    shots="$frames/$name"
    mkdir -p "$shots"
    import -window root "$shots/before.png"
    echo -n "[$run/$total] ${titles[$method]}, $average average: starting"
    wine "$scr" /s &
    saver=$!
    for _ in $(seq 200); do
      xdotool search --name '^Screen Saver$' >/dev/null 2>&1 && break
      sleep 0.05
    done
    start=$(date +%s%3N)
    frame=0
    while :; do
      elapsed=$(($(date +%s%3N) - start))
      [ $elapsed -ge $((seconds * 1000)) ] && break
      import -window root -resize 40% "$shots/frame-$(printf %04d $frame).png"
      frame=$((frame + 1))
      printf '\r[%d/%d] %s, %s average: %d/%d s ' "$run" "$total" "${titles[$method]}" \
        "$average" $((elapsed / 1000)) "$seconds"
    done
    import -window root "$shots/after.png"
    # End the run the way a user does: move the pointer.
    xdotool mousemove 1010 560
    code=timeout
    for _ in $(seq 300); do
      if ! kill -0 "$saver" 2>/dev/null; then
        set +e
        wait "$saver"
        code=$?
        set -e
        break
      fi
      sleep 0.1
    done
    [ "$code" = timeout ] && kill "$saver" 2>/dev/null
    # The pictures are put together while the next run records.
    (
      convert "$shots/before.png" "$shots/after.png" +append -resize 50% "$out/$name-before-after.png"
      cp "$shots/before.png" "$out/$name-before.png"
      cp "$shots/after.png" "$out/$name-after.png"
      convert -delay 20 -loop 0 "$shots"/frame-*.png "$out/$name.gif"
    ) &
    echo "- exit code $code, $frame frames"
    [ "$code" = 0 ] || failures=$((failures + 1))
  done
done

say "putting the last pictures together"
wait_for_pictures() {
  local job
  for job in $(jobs -p); do
    [ "$job" = "$painter_pid" ] || wait "$job"
  done
}
wait_for_pictures
say "pictures in $out"
ls "$out"
if [ $failures -gt 0 ]; then
  say "$failures run(s) did not end with exit code 0"
  exit 1
fi
