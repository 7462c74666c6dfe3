#!/usr/bin/env bash
# What presenting the working image costs, side by side in one run, on displays of several
# sizes and with the display off, and what drawing the step's coordinates ahead saves on a
# cold cache:
#
#   bash bench/frame-bench.sh [--seconds N] [--sizes "WxH ..."] [--intervals "MS ..."]
#                             [--steps N]
#
# Table 1: the processor share of a full-screen saver under Wine on a virtual display of each
# size (--sizes, default 1024x768 1920x1080 3840x2160, one X server after the other in the same
# Wine prefix), counting the saver's process, the wineserver and the X server (utime + stime
# from /proc): no saver at all (the prefix's own desktop and services alone), the empty saver
# (the same window and 0 ms timer, nothing drawn), and every method presented in frames by
# Vandrel.scr itself, first with the display on, then in the same process with the display off
# (told as the system tells it, WM_SYSCOMMAND SC_MONITORPOWER).
# At 1920x1080 also every method presented pixel by pixel as the saver did before frames, and
# Faster's steps alone, never shown, for what the steps cost by themselves. --seconds N
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

seconds=20 intervals="" steps=200 sizes="1024x768 1920x1080 3840x2160"
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift ;;
    --intervals) intervals=$2; shift ;;
    --steps) steps=$2; shift ;;
    --sizes) sizes=$2; shift ;;
    -h|--help) sed -n '2,26p' "$0"; exit 0 ;;
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
module="$root/build/$preset/Vandrel.scr"
bench="$root/build/$preset/bench/frame_bench.exe"

state=build/frame-bench
mkdir -p "$state"
finish() { wine_env_stop "$state"; }
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
  [ -n "$wineserver_pid" ] || { say "no wineserver found for $WINEPREFIX"; exit 1; }
  centre="$((${1%x*} / 2)) $((${1#*x} / 2))"
}

hz=$(getconf CLK_TCK)
# Processor time of a process so far, in clock ticks (utime + stime); 0 for no process.
cpu_ticks() { if [ -n "$1" ]; then awk '{print $14 + $15}' "/proc/$1/stat"; else echo 0; fi; }
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

# Processor ticks so far of the saver, the wineserver and the X server, and the time.
snapshot() {
  echo "$(now) $(cpu_ticks "$1") $(cpu_ticks "$wineserver_pid") $(cpu_ticks "$xserver_pid")"
}

# record LABEL SNAPSHOT SNAPSHOT: the shares between the two, in the table and on the way.
declare -A total_of
record() {
  local row
  row=$(echo "$2 $3" | awk -v hz="$hz" '{ f = 100 / hz / ($5 - $1);
    printf "%.2f %.2f %.2f %.2f", ($6 - $2) * f, ($7 - $3) * f, ($8 - $4) * f,
      ($6 - $2 + $7 - $3 + $8 - $4) * f }')
  total_of[$1]=${row##* }
  echo "$1|$row" >>"$state/table1"
  say "$1: $row"
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

# measure LABEL METHOD OFF PROGRAM ARGS...: one saver from start to a pointer move; with OFF
# 1, measured again in the same process once it has been told that the display went off.
measure() {
  local label=$1 method=$2 off=$3 program=$4
  shift 4
  set_method "$method"
  # shellcheck disable=SC2086
  xdotool mousemove $centre
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
  local start
  start=$(snapshot "$pid")
  sleep "$seconds"
  record "$label" "$start" "$(snapshot "$pid")"
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
}

: >"$state/table1"
say "each saver for $seconds s after 3 s to settle, at $sizes; $kind"
names=("" Gradual Faster Melting)
for size in $sizes; do
  use_display "$size"
  measure_idle "$size no saver"
  measure "$size empty saver" 2 0 "$bench" run empty
  for method in 1 2 3; do
    measure "$size ${names[$method]}, frames" "$method" 1 "$module" /s
  done
  [ "$size" = 1920x1080 ] || continue
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
echo "($kind)"
printf '%-40s %7s %11s %9s %7s %9s\n' "" saver wineserver "X server" total "x empty"
while IFS='|' read -r label figures; do
  # shellcheck disable=SC2086
  set -- $figures
  printf '%-40s %7s %11s %9s %7s %8.1fx\n' "$label" "$1" "$2" "$3" "$4" \
    "$(awk -v a="$4" -v e="${total_of[${label%% *} empty saver]:-0}" \
      'BEGIN { print (e > 0 ? a / e : 0) }')"
done <"$state/table1"

echo
echo "By display size: total % of one processor with no saver, the empty saver, and each method"
echo "with the display on and off; off less no saver, what the sleeping saver adds; on against"
echo "the empty saver and against the same method at 1920x1080 (targets: off at most 0.1;"
echo "3840x2160 at most 1.3 times 1920x1080)"
printf '%-10s %-8s %6s %6s %6s %6s %8s %9s %9s\n' size method none empty on off off-none \
  "on/empty" "on/1080p"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b == 0) print "-"; else printf "%.2fx", a / b }'; }
for size in $sizes; do
  for method in 1 2 3; do
    on=${total_of[$size ${names[$method]}, frames]:-}
    off=${total_of[$size ${names[$method]}, frames, display off]:-}
    none=${total_of[$size no saver]:-}
    printf '%-10s %-8s %6s %6s %6s %6s %8s %9s %9s\n' "$size" "${names[$method]}" "${none:--}" \
      "${total_of[$size empty saver]:--}" "${on:--}" "${off:--}" \
      "$(awk -v a="$off" -v b="$none" 'BEGIN { if (a == "" || b == "") print "-"; else printf "%.2f", a - b }')" \
      "$(ratio "$on" "${total_of[$size empty saver]:-}")" \
      "$(ratio "$on" "${total_of[1920x1080 ${names[$method]}, frames]:-}")"
  done
done
echo
"$loader" "$bench" step "$steps" | sed 's/\r$//'
