#!/usr/bin/env bash
# What presenting the working image costs, side by side in one run, on displays of several
# sizes and with the display off, and what drawing the step's coordinates ahead saves on a
# cold cache:
#
#   bash bench/frame-bench.sh [--seconds N] [--sizes "WxH ..."] [--intervals "MS ..."]
#                             [--steps N] [--module PATH] [--short]
#
# Table 1: the processor share of a full-screen saver under Wine on a virtual display of each
# size (--sizes, default 1024x768 1920x1080 3840x2160, one X server after the other in the same
# Wine prefix, a detailed picture in a window of frame_bench under every saver, a plasma
# picture on the root under decayscreen), counting the saver's process, the
# wineserver and the X server (utime + stime from /proc): no saver at all (the prefix's own
# desktop and services alone), the empty saver (the same window and 0 ms timer, nothing
# drawn), XScreenSaver's decayscreen on the root window (a peer, from Debian's
# xscreensaver-data-extra, installed if missing), and every method presented in frames by
# Vandrel.scr itself, first with the display on, then in the same process with the display off
# (told as the system tells it, WM_SYSCOMMAND SC_MONITORPOWER); last, Vandrel.scr with lossy
# averaging on a black screen, the picture a lossy melt ends in. Beside the shares: the
# context switches a second of the saver's own process (every thread's, voluntary and not,
# from /proc), and the pixels a second that change on the screen, read from it over 2 s right
# after the share. --module PATH measures another build of Vandrel.scr (64-bit, or 32-bit where
# that runs natively), such as the one before a change.
# At 1920x1080 also every method presented pixel by pixel as the saver did before frames, and
# Faster's steps alone, never shown, for what the steps cost by themselves (--short leaves
# those out). --seconds N
# measures each for N seconds (default 20), after 3 s to settle; --intervals adds, at
# 1920x1080, Faster in frames of each given interval (the benchmark's copy of the presenting).
# Table 2: each size's figures side by side, against the empty saver and against 1920x1080.
# Table 3: one step on a hot and on a cold cache, in-order and drawn ahead (--steps N steps
# each, default 200).
#
# Uses the real 32-bit module and a 32-bit build of the benchmark where this machine runs
# 32-bit programs natively, the 64-bit builds where they would run under emulation, and says
# which. Runs in a Wine prefix and displays of its own under build/frame-bench.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=20 intervals="" steps=200 sizes="1024x768 1920x1080 3840x2160" module="" short=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift ;;
    --intervals) intervals=$2; shift ;;
    --steps) steps=$2; shift ;;
    --sizes) sizes=$2; shift ;;
    --module) module=$(realpath "$2"); shift ;;
    --short) short=1 ;;
    -h|--help) sed -n '2,35p' "$0"; exit 0 ;;
    *) echo "frame-bench: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done

say() { echo "frame-bench: $*" >&2; }

# shellcheck source=../scripts/wine-env.sh
source scripts/wine-env.sh
# Figures of an emulated processor say nothing of the saver: no VANDREL_EMULATED_WINE32 here.
unset VANDREL_EMULATED_WINE32
if [ -z "$(wine_env_wine32_left_out)" ]; then
  preset=win32
  kind="the real 32-bit Vandrel.scr and a 32-bit frame_bench, under 32-bit Wine (this machine runs 32-bit programs natively)"
else
  preset=win64
  kind="the 64-bit build of Vandrel.scr and frame_bench (32-bit programs would run under emulation here)"
fi
say "building ($preset)"
cmake --preset "$preset" >/dev/null
cmake --build "build/$preset" --target Vandrel frame_bench >/dev/null
[ -n "$module" ] || module="$root/build/$preset/Vandrel.scr"
bench="$root/build/$preset/bench/frame_bench.exe"
decay=/usr/libexec/xscreensaver/decayscreen
if [ ! -x "$decay" ]; then
  say "installing xscreensaver-data-extra for decayscreen, the peer measured beside the saver"
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    xscreensaver-data-extra >/dev/null || say "no decayscreen: its rows stay empty"
fi

state=build/frame-bench
mkdir -p "$state"
# shellcheck source=../scripts/wine-env.sh
source scripts/wine-env.sh
finish() { stop_picture; wine_env_stop "$state"; }
trap finish EXIT
[ -f "$state/wine/prefix/system.reg" ] || say "creating a Wine prefix in $state/wine (once; a few minutes)"
loader=$(wine_env_loader)

# use_display WxH: a new X server of that size, and the prefix's wineserver and desktop on it.
# Sets the pids counted with the saver, and the point the pointer rests on.
wineserver_pid="" xserver_pid="" centre=""
use_display() {
  wine_env_stop "$state"
  unset DISPLAY
  VANDREL_SCREEN_SIZE=$1 wine_env_prepare "$state"
  # A server that the prefix's update started may still run: it ends first.
  wineserver -w
  wineserver -p >/dev/null 2>&1 </dev/null
  "$loader" wineboot.exe >/dev/null 2>&1 </dev/null
  # The wineserver of this prefix works in a folder named after the prefix's device and inode.
  local server_dir p
  server_dir=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
  wineserver_pid=""
  for _ in $(seq 50); do
    for p in $(pgrep -x wineserver64; pgrep -x wineserver); do
      case "$(readlink "/proc/$p/cwd" 2>/dev/null)" in */"$server_dir") wineserver_pid=$p ;; esac
    done
    [ -n "$wineserver_pid" ] && break
    sleep 0.1
  done
  xserver_pid=$(cat "$state/wine/xvfb.pid")
  show_on_root "plasma:fractal" "$1"
  [ -n "$wineserver_pid" ] || { say "no wineserver found for $WINEPREFIX"; exit 1; }
  centre="$((${1%x*} / 2)) $((${1#*x} / 2))"
}

# show_on_root PICTURE WxH: an ImageMagick picture as the X root window's background, which is
# what the saver and decayscreen find on the screen; shown again before each of them, since
# decayscreen leaves its melt on the root.
root_picture=""
show_on_root() {
  root_picture="$state/root-${1%%:*}-$2.png"
  [ -f "$root_picture" ] || convert -seed 7 -size "$2" "$1" -depth 8 "$root_picture"
  redraw_root
}
# It sets the background and then answers 1.
redraw_root() { display -window root "$root_picture" || true; }

hz=$(getconf CLK_TCK)
# Processor time of a process so far, in clock ticks (utime + stime); 0 for no process.
cpu_ticks() { if [ -n "$1" ]; then awk '{print $14 + $15}' "/proc/$1/stat"; else echo 0; fi; }
now() { date +%s.%N; }

# The process whose command line starts with the program's path, as Wine shows it (Z:\...),
# and with the given first argument, if any.
find_process() {
  local path="$1${2:+ $2}" p line
  for p in /proc/[0-9]*; do
    line=$(tr '\0\\' ' /' 2>/dev/null <"$p/cmdline") || continue
    line=${line#Z:}
    case "$line" in "$path "*) echo "${p#/proc/}"; return 0 ;; esac
  done
  return 1
}

# set_method METHOD [LOSSY]
set_method() {
  "$loader" reg.exe add 'HKCU\Software\Quorvel\Vandrel' /v Method /t REG_DWORD /d "$1" /f \
    >/dev/null 2>&1
  "$loader" reg.exe add 'HKCU\Software\Quorvel\Vandrel' /v Lossy /t REG_DWORD /d "${2:-0}" /f \
    >/dev/null 2>&1
}

# Context switches so far of every thread of a process, voluntary and not; 0 for no process.
ctx_switches() {
  if [ -z "$1" ]; then echo 0; return; fi
  cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^(non)?voluntary_ctxt_switches/ { n += $2 }
    END { print n + 0 }'
}

# Processor ticks so far of the saver, the wineserver and the X server, the time, and the
# saver's context switches.
snapshot() {
  echo "$(now) $(cpu_ticks "$1") $(cpu_ticks "$wineserver_pid") $(cpu_ticks "$xserver_pid")" \
    "$(ctx_switches "$1")"
}

# Pixels a second that change on the screen over 2 s, read by frame_bench through Wine.
changed_pixels() {
  "$loader" "$bench" changes 2 2>/dev/null </dev/null | tr -d '\r' || echo -
}

# record LABEL SNAPSHOT SNAPSHOT [CHANGED]: the shares between the two, the saver's context
# switches a second, and the changed pixels a second, in the table and on the way.
declare -A total_of
record() {
  local row
  row=$(echo "$2 $3" | awk -v hz="$hz" '{ f = 100 / hz / ($6 - $1);
    printf "%.2f %.2f %.2f %.2f %.1f", ($7 - $2) * f, ($8 - $3) * f, ($9 - $4) * f,
      ($7 - $2 + $8 - $3 + $9 - $4) * f, ($10 - $5) / ($6 - $1) }')
  total_of[$1]=$(echo "$row" | awk '{ print $4 }')
  echo "$1|$row ${4:--}" >>"$state/table1"
  say "$1: $row ${4:--}"
}

# measure_idle LABEL: no saver at all, only the prefix's own desktop and services, which keep
# the wineserver a little busy whatever runs: what a saver that sleeps is read against.
measure_idle() {
  sleep 3
  local start
  start=$(snapshot "")
  sleep "$seconds"
  record "$1" "$start" "$(snapshot "")"
}

# measure_decay LABEL: decayscreen on the root window, for as long as a saver is measured.
measure_decay() {
  [ -x "$decay" ] || return 0
  stop_picture
  redraw_root
  "$decay" -root >/dev/null 2>&1 </dev/null &
  local pid=$! start
  sleep 3
  start=$(snapshot "$pid")
  sleep "$seconds"
  local end
  end=$(snapshot "$pid")
  record "$1" "$start" "$end" "$(changed_pixels)"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# The picture a saver melts, under Wine: frame_bench's window of a detailed picture (Wine's
# screen reads do not see the root window's background). none: no picture (a black screen).
picture="" melt_picture=detail
start_picture() {
  stop_picture
  [ "$1" = none ] && return 0
  "$loader" "$bench" picture >/dev/null 2>&1 </dev/null &
  picture=$!
  sleep 1.5
}
stop_picture() {
  [ -n "$picture" ] || return 0
  pkill -P "$picture" 2>/dev/null || true
  kill "$picture" 2>/dev/null || true
  wait "$picture" 2>/dev/null || true
  picture=""
  local p
  p=$(find_process "$bench" picture) && kill "$p" 2>/dev/null || true
  sleep 0.5
}

# measure LABEL METHOD OFF PROGRAM ARGS...: one saver from start to a pointer move; with OFF
# 1, measured again in the same process once it has been told that the display went off.
# METHOD may carry the lossy switch after a comma (3,1).
measure() {
  local label=$1 method=$2 off=$3 program=$4
  shift 4
  set_method "${method%,*}" "$(case $method in *,*) echo "${method#*,}" ;; *) echo 0 ;; esac)"
  redraw_root
  start_picture "$melt_picture"
  # shellcheck disable=SC2086
  xdotool mousemove $centre
  sleep 0.5
  "$loader" "$program" "$@" >/dev/null 2>&1 </dev/null &
  local launcher=$! pid=""
  for _ in $(seq 300); do
    pid=$(find_process "$program" "$1") && break
    sleep 0.1
  done
  if [ -z "$pid" ]; then
    say "$label: no process"
    kill "$launcher" 2>/dev/null || true
    return 1
  fi
  sleep 3
  local start end
  start=$(snapshot "$pid")
  sleep "$seconds"
  end=$(snapshot "$pid")
  record "$label" "$start" "$end" "$(changed_pixels)"
  if [ "$off" = 1 ]; then
    "$loader" "$bench" display off >/dev/null 2>&1 </dev/null || say "$label: no saver window to tell"
    sleep 1
    start=$(snapshot "$pid")
    sleep "$seconds"
    record "$label, display off" "$start" "$(snapshot "$pid")"
    "$loader" "$bench" display on >/dev/null 2>&1 </dev/null || true
    sleep 0.5
  fi
  xdotool mousemove_relative 30 20
  for _ in $(seq 150); do
    kill -0 "$launcher" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$launcher" 2>/dev/null; then
    say "$label: still running 15 s after the pointer move; ended"
    kill "$pid" 2>/dev/null || true
  fi
  wait "$launcher" 2>/dev/null || true
  stop_picture
}

: >"$state/table1"
say "each saver for $seconds s after 3 s to settle, at $sizes; $kind"
names=("" Gradual Faster Melting)
for size in $sizes; do
  use_display "$size"
  measure_idle "$size no saver"
  measure "$size empty saver" 2 0 "$bench" run empty
  measure_decay "$size decayscreen"
  for method in 1 2 3; do
    measure "$size ${names[$method]}, frames" "$method" 1 "$module" /s
  done
  # The end of a lossy melt: a black screen over a black desktop, which no step changes.
  show_on_root xc:black "$size"
  "$loader" reg.exe add 'HKCU\Control Panel\Colors' /v Background /d "0 0 0" /f >/dev/null 2>&1
  melt_picture=none measure "$size Melting, lossy, gone black" 3,1 0 "$module" /s
  [ "$size" = 1920x1080 ] && [ "$short" = 0 ] || continue
  for method in 1 2 3; do
    measure "$size ${names[$method]}, pixel by pixel" "$method" 0 "$bench" run pixels
  done
  measure "$size Faster, steps alone" 2 0 "$bench" run steps
  for ms in $intervals; do
    measure "$size Faster, frames of $ms ms" 2 0 "$bench" run frames "$ms"
  done
done

echo
echo "Processor share of a full-screen saver, % of one processor, $seconds s each"
echo "($kind; module $module)"
echo "(for decayscreen, \"saver\" is decayscreen's own process; ctx/s: the saver's context"
echo "switches a second; px/s: pixels a second changed on the screen)"
printf '%-40s %7s %11s %9s %7s %9s %8s %10s\n' "" saver wineserver "X server" total "x empty" \
  ctx/s px/s
while IFS='|' read -r label figures; do
  # shellcheck disable=SC2086
  set -- $figures
  printf '%-40s %7s %11s %9s %7s %8.1fx %8s %10s\n' "$label" "$1" "$2" "$3" "$4" \
    "$(awk -v a="$4" -v e="${total_of[${label%% *} empty saver]:-0}" \
      'BEGIN { print (e > 0 ? a / e : 0) }')" "$5" "$6"
done <"$state/table1"

echo
echo "By display size: total % of one processor with no saver, the empty saver, and each method"
echo "with the display on and off; off less no saver, what the sleeping saver adds; on against"
echo "the empty saver, against decayscreen and against the same method at 1920x1080 (targets:"
echo "off at most 0.1; on at most decayscreen; 3840x2160 at most 1.3 times 1920x1080)"
printf '%-10s %-8s %6s %6s %6s %6s %6s %8s %9s %9s %9s\n' size method none empty decay on off \
  off-none "on/empty" "on/decay" "on/1080p"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b == 0) print "-"; else printf "%.2fx", a / b }'; }
for size in $sizes; do
  for method in 1 2 3; do
    on=${total_of[$size ${names[$method]}, frames]:-}
    off=${total_of[$size ${names[$method]}, frames, display off]:-}
    none=${total_of[$size no saver]:-}
    printf '%-10s %-8s %6s %6s %6s %6s %6s %8s %9s %9s %9s\n' "$size" "${names[$method]}" \
      "${none:--}" "${total_of[$size empty saver]:--}" "${total_of[$size decayscreen]:--}" \
      "${on:--}" "${off:--}" \
      "$(awk -v a="$off" -v b="$none" 'BEGIN { if (a == "" || b == "") print "-"; else printf "%.2f", a - b }')" \
      "$(ratio "$on" "${total_of[$size empty saver]:-}")" \
      "$(ratio "$on" "${total_of[$size decayscreen]:-}")" \
      "$(ratio "$on" "${total_of[1920x1080 ${names[$method]}, frames]:-}")"
  done
done
echo
"$loader" "$bench" step "$steps" | sed 's/\r$//'
