#!/usr/bin/env bash
# What presenting the working image costs, side by side in one run, and what drawing the step's
# coordinates ahead saves on a cold cache:
#
#   bash bench/frame-bench.sh [--seconds N] [--intervals "MS ..."] [--steps N]
#
# Table 1: the processor share of a full-screen saver under Wine on a virtual 1920x1080
# display, counting the saver's process, the wineserver and the X server (utime + stime from
# /proc), for the empty saver (the same window and 0 ms timer, nothing drawn), for every
# method presented pixel by pixel as the saver did before frames, and presented in frames by
# Vandrel.scr itself; then Faster's steps alone, never shown, for what the steps cost by
# themselves. --seconds N measures each for N seconds (default 20), after 3 s to
# settle; --intervals adds Faster in frames of each given interval (the benchmark's copy of
# the presenting), to choose the interval by.
# Table 2: one step on a hot and on a cold cache, in-order and drawn ahead (--steps N steps
# each, default 200).
#
# Uses the real 32-bit module and a 32-bit build of the benchmark where this machine runs
# 32-bit programs natively, the 64-bit builds where they would run under emulation, and says
# which. Runs in a Wine prefix and display of its own under build/frame-bench.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=20 intervals="" steps=200
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift ;;
    --intervals) intervals=$2; shift ;;
    --steps) steps=$2; shift ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    *) echo "frame-bench: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done

say() { echo "frame-bench: $*" >&2; }

if /usr/lib/wine/wine --version >/dev/null 2>&1 && [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  preset=win32
  kind="the real 32-bit Vandrel.scr and a 32-bit frame_bench, under 32-bit Wine (this machine runs 32-bit programs natively)"
else
  preset=win64
  kind="the 64-bit build of Vandrel.scr and frame_bench (32-bit programs would run under emulation here)"
fi
say "building ($preset)"
cmake --preset "$preset" >/dev/null
cmake --build "build/$preset" --target Vandrel frame_bench >/dev/null
module="$root/build/$preset/Vandrel.scr"
bench="$root/build/$preset/bench/frame_bench.exe"

unset DISPLAY
state=build/frame-bench
mkdir -p "$state"
# shellcheck source=../scripts/wine-env.sh
source scripts/wine-env.sh
finish() { wine_env_stop "$state"; }
trap finish EXIT
[ -f "$state/wine/prefix/system.reg" ] || say "creating a Wine prefix in $state/wine (once; a few minutes)"
wine_env_prepare "$state"
loader=$(wine_env_loader)
wineserver -p >/dev/null 2>&1 </dev/null
"$loader" wineboot.exe >/dev/null 2>&1 </dev/null

# The wineserver of this prefix works in a folder named after the prefix's device and inode.
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
[ -n "$wineserver_pid" ] || { say "no wineserver found for $WINEPREFIX"; exit 1; }

hz=$(getconf CLK_TCK)
# Processor time of a process so far, in clock ticks (utime + stime).
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
now() { date +%s.%N; }

# The process whose command line starts with the program's path, as Wine shows it (Z:\...).
find_process() {
  local path=$1 p line
  for p in /proc/[0-9]*; do
    line=$(tr '\0\\' ' /' 2>/dev/null <"$p/cmdline") || continue
    line=${line#Z:}
    case "$line" in "$path "*) echo "${p#/proc/}"; return 0 ;; esac
  done
  return 1
}

set_method() {
  "$loader" reg.exe add 'HKCU\Software\Quorvel\Vandrel' /v Method /t REG_DWORD /d "$1" /f \
    >/dev/null 2>&1
  "$loader" reg.exe add 'HKCU\Software\Quorvel\Vandrel' /v Lossy /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1
}

# measure LABEL METHOD PROGRAM ARGS...: one saver from start to a pointer move.
declare -A total_of
measure() {
  local label=$1 method=$2 program=$3
  shift 3
  set_method "$method"
  xdotool mousemove 960 540
  sleep 0.5
  "$loader" "$program" "$@" >/dev/null 2>&1 </dev/null &
  local launcher=$! pid=""
  for _ in $(seq 300); do
    pid=$(find_process "$program") && break
    sleep 0.1
  done
  if [ -z "$pid" ]; then
    say "$label: no process"
    kill "$launcher" 2>/dev/null || true
    return 1
  fi
  sleep 3
  local t0 s0 w0 x0 t1 s1 w1 x1
  t0=$(now) s0=$(cpu_ticks "$pid") w0=$(cpu_ticks "$wineserver_pid") x0=$(cpu_ticks "$xserver_pid")
  sleep "$seconds"
  t1=$(now) s1=$(cpu_ticks "$pid") w1=$(cpu_ticks "$wineserver_pid") x1=$(cpu_ticks "$xserver_pid")
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
  local row
  row=$(awk -v s=$((s1 - s0)) -v w=$((w1 - w0)) -v x=$((x1 - x0)) -v hz="$hz" \
    -v t="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" \
    'BEGIN { f = 100 / hz / t; printf "%.2f %.2f %.2f %.2f", s * f, w * f, x * f, (s + w + x) * f }')
  total_of[$label]=${row##* }
  echo "$label|$row" >>"$state/table1"
  say "$label: $row"
}

: >"$state/table1"
say "each saver for $seconds s after 3 s to settle; $kind"
measure "empty saver" 2 "$bench" run empty
names=("" Gradual Faster Melting)
for method in 1 2 3; do
  measure "${names[$method]}, pixel by pixel" "$method" "$bench" run pixels
  measure "${names[$method]}, frames" "$method" "$module" /s
done
measure "Faster, steps alone" 2 "$bench" run steps
for ms in $intervals; do
  measure "Faster, frames of $ms ms" 2 "$bench" run frames "$ms"
done
measure "empty saver, again" 2 "$bench" run empty

empty=$(awk -v a="${total_of[empty saver]}" -v b="${total_of[empty saver, again]}" \
  'BEGIN { print (a + b) / 2 }')
echo
echo "Processor share of a full-screen saver at 1920x1080, % of one processor, $seconds s each"
echo "($kind)"
printf '%-28s %7s %11s %9s %7s %9s\n' "" saver wineserver "X server" total "x empty"
while IFS='|' read -r label figures; do
  # shellcheck disable=SC2086
  set -- $figures
  printf '%-28s %7s %11s %9s %7s %8.1fx\n' "$label" "$1" "$2" "$3" "$4" \
    "$(awk -v a="$4" -v e="$empty" 'BEGIN { print (e > 0 ? a / e : 0) }')"
done <"$state/table1"
echo
"$loader" "$bench" step "$steps" | sed 's/\r$//'
