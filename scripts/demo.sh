#!/usr/bin/env bash
# Shows Vandrel melting a desktop.
#
#   scripts/demo.sh                 with a display: the saver full screen over your desktop,
#                                   until you move the pointer or press a key
#   scripts/demo.sh --preview       the live preview inside a window of a control panel's size
#   scripts/demo.sh --config        the settings dialog
#   scripts/demo.sh --headless      no display needed: every method, rounded and lossy, on a
#                                   virtual display over a made-up desktop, with pictures
#   scripts/demo.sh --minutes N     a time-lapse: headless runs of N minutes each, recorded at an
#                                   even pace into GIFs that play in about 10 s
#   scripts/demo.sh --blank-desktop headless runs over a blank virtual display with a wallpaper
#                                   set, as on a locked Windows machine: the wallpaper melts
#
# Options: --seconds N (each headless run, default 6), --long (30 s each), --method LIST
# (gradual, faster, melting or all, comma-separated; default all), --average LIST (rounded,
# lossy or both; default both, rounded for a time-lapse), --size WxH (the virtual display,
# default 1920x1080), --out DIR (where the pictures go, default out/demo, out/demo-blank with
# --blank-desktop), --module 32|64 (which build of the module to run), --monitors 2 (headless
# on two monitors, 1024x768 and 800x600 right of it, the desktop and the melt across both).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

names=("" "gradual" "faster" "melting")
titles=("" "Method 1 - Gradual" "Method 2 - Faster" "Method 3 - Melting")
# A recording has at most this many frames, evenly spread over the run, and its GIF plays in
# real time up to this many seconds; a longer run is sped up to fit.
max_frames=100 max_play_seconds=10
# Frames are recorded at half the screen's size; GIF files larger than this are made again at
# a smaller scale.
frame_scale=50%
max_gif_bytes=$((3 * 1024 * 1024))

say() { echo "demo: $*"; }
fail() {
  echo "demo: $*" >&2
  exit 2
}

parse_options() {
  mode=auto seconds=6 out="" module="" state="" nobuild=0 blank=0
  methods=all averages="" size="" monitors=1
  while [ $# -gt 0 ]; do
    case "$1" in
      --headless) mode=headless ;;
      --blank-desktop) mode=headless blank=1 ;;
      --preview) mode=preview ;;
      --config) mode=config ;;
      --seconds) seconds=$2; shift ;;
      --long) seconds=30 ;;
      --minutes) seconds=$(($2 * 60)); mode=headless; averages=${averages:-rounded}; shift ;;
      --method) methods=$2; shift ;;
      --average) averages=$2; shift ;;
      --size) size=$2; shift ;;
      --monitors) monitors=$2; shift ;;
      --out) out=$2; shift ;;
      --module) module=$2; shift ;;
      --state) state=$2; shift ;;  # a build folder whose Wine prefix and display to use
      --no-build) nobuild=1 ;;     # use what is built (the test suite runs the demo this way)
      -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
      *) fail "unknown option $1 (try --help)" ;;
    esac
    shift
  done
  case "$monitors" in
    1) ;;
    2)
      [ "$mode" = auto ] && mode=headless
      [ "$mode" = headless ] || fail "--monitors 2 shows the headless demo"
      [ -z "$size" ] || fail "two monitors are 1024x768 and 800x600; --size does not apply"
      ;;
    *) fail "--monitors is 1 or 2" ;;
  esac
  if [ "$mode" = auto ]; then
    if [ -n "${DISPLAY:-}" ]; then mode=fullscreen; else mode=headless; fi
  fi
  if [ -z "$out" ]; then
    if [ $blank = 1 ]; then out=out/demo-blank; else out=out/demo; fi
  fi
  [ "$seconds" -gt 0 ] 2>/dev/null || fail "a run needs a length of at least 1 s"
  if [ -n "$size" ]; then
    [[ "$size" =~ ^[1-9][0-9]*x[1-9][0-9]*$ ]] || fail "--size takes WIDTHxHEIGHT, e.g. 1024x768"
    [ "$mode" = headless ] || fail "--size sets the virtual display of a headless run"
  fi
  run_methods=()
  local m
  for m in ${methods//,/ }; do
    case "$m" in
      all) run_methods+=(1 2 3) ;;
      gradual|1) run_methods+=(1) ;;
      faster|2) run_methods+=(2) ;;
      melting|3) run_methods+=(3) ;;
      *) fail "unknown method $m (gradual, faster, melting or all)" ;;
    esac
  done
  run_averages=()
  averages=${averages:-both}
  for m in ${averages//,/ }; do
    case "$m" in
      both) run_averages+=(0 1) ;;
      rounded) run_averages+=(0) ;;
      lossy) run_averages+=(1) ;;
      *) fail "unknown average $m (rounded, lossy or both)" ;;
    esac
  done
  if [ ${#run_methods[@]} = 0 ] || [ ${#run_averages[@]} = 0 ]; then fail "nothing to run"; fi
}

# Without 32-bit Wine, or where it runs under emulation (a kernel without 32-bit support: about
# a minute to start each program), the demo runs the 64-bit build of the same code, which
# starts at once, and says so; the tests make the same choice (wine_env_wine32_left_out).
choose_module() {
  # shellcheck source=wine-env.sh
  source scripts/wine-env.sh
  local missing32 chosen=$module
  missing32=$(wine_env_wine32_missing)
  if [ -z "$module" ]; then
    if [ -n "$(wine_env_wine32_left_out)" ]; then module=64; else module=32; fi
  fi
  [ "$module" = 64 ] || [ -z "$missing32" ] || fail "--module 32 needs 32-bit Wine: $missing32"
  # Asked for by name, the real module runs under the emulator too, in a prefix made for it.
  [ "$module" = 64 ] || export VANDREL_EMULATED_WINE32=1
  scr="$root/build/win$module/Vandrel.scr"
  painter="$root/build/win64/desktop_painter.exe"
  [ -z "$chosen" ] || return 0
  if [ "$module" = 64 ] && [ -n "$missing32" ]; then
    say "$missing32;"
    say "so the demo runs the 64-bit build of the same code"
  elif [ "$module" = 64 ]; then
    say "this machine runs 32-bit programs only under emulation, so the demo runs the 64-bit"
    say "build of the same code; --module 32 runs build/win32/Vandrel.scr (slow to start here)"
  fi
}

build_programs() {
  say "building Vandrel.scr and the demo desktop"
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 --target Vandrel >/dev/null
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 --target Vandrel desktop_painter >/dev/null
}

# The screen of the current display, as WIDTHxHEIGHT.
display_size() {
  xdpyinfo 2>/dev/null | sed -n 's/^ *dimensions: *\([0-9]*x[0-9]*\) pixels.*/\1/p'
}

# A Wine world of the demo's own, ended with the demo; one passed with --state is left running.
start_wine_world() {
  [ "$mode" = headless ] && unset DISPLAY
  own_state=0
  if [ -z "$state" ]; then
    state=build/demo
    own_state=1
  fi
  # shellcheck source=wine-env.sh
  source scripts/wine-env.sh
  mkdir -p "$state"
  if [ "$monitors" = 2 ]; then
    start_two_monitors
    return
  fi
  if [ ! -f "$state/wine/prefix/system.reg" ]; then
    say "creating a Wine prefix in $state/wine (once; a few minutes)"
  fi
  [ -z "$size" ] || export VANDREL_SCREEN_SIZE=$size
  wine_env_prepare "$state"
  if [ -n "$size" ] && [ "$(display_size)" != "$size" ]; then
    # A display left over from an interrupted demo, of another size.
    [ $own_state = 1 ] || fail "the display of $state is $(display_size), not $size"
    wine_env_stop "$state"
    unset DISPLAY
    wine_env_prepare "$state"
  fi
  loader=$(wine_env_loader)
}

# Two monitors: a nested display with Xinerama and a Wine prefix of their own, in the state
# folder (scripts/wine-monitors.sh); X coordinates there are the Windows ones.
start_two_monitors() {
  # shellcheck source=wine-monitors.sh
  source scripts/wine-monitors.sh
  [ -f "$state/monitors/right/prefix-ready" ] ||
    say "creating a two-monitor Wine prefix in $state/monitors/right (once; a few minutes)"
  wine_monitors_prepare "$state" right
  say "two monitors: 1024x768 and 800x600 right of it"
  # Below the smaller monitor no screen is: the display reads back leftovers there.
  off_monitors="1024 600 1824 768"
  loader=$(wine_env_loader)
}

off_monitors=""
# Paints black what lies on no monitor in pictures taken at SCALE percent of the screen.
blank_off_monitors() {
  local scale=${1%\%}
  shift
  [ -n "$off_monitors" ] || return 0
  local c
  read -ra c <<<"$off_monitors"
  mogrify -fill black -draw "rectangle $((c[0] * scale / 100)),$((c[1] * scale / 100)) \
$((c[2] * scale / 100)),$((c[3] * scale / 100))" "$@"
}

wine() { "$loader" "$@"; }

run_fullscreen() {
  say "running the saver over your desktop; move the pointer or press a key to end it"
  set +e
  wine "$scr" /s
  local code=$?
  set -e
  say "Vandrel.scr /s exited with code $code"
}

run_preview() {
  say "opening a preview window; close it to end the preview"
  local line
  wine "$painter" preview | while read -r line; do
    line=${line%$'\r'}  # the Windows console ends its lines with CR LF
    case "$line" in
      hwnd\ *)
        wine "$scr" /p "${line#hwnd }" &
        ;;
    esac
  done
  wait || true
}

run_config() {
  set +e
  wine "$scr" /c
  local code=$?
  set -e
  say "Vandrel.scr /c exited with code $code (1: settings stored, 0: cancelled)"
}

# Progress of a headless run: on a terminal one line that is rewritten in place, in a log only
# the line with the run's result.
progress() {
  [ -t 1 ] && printf '\r\033[K%s' "$*"
  return 0
}
report() {
  if [ -t 1 ]; then printf '\r\033[K%s\n' "$*"; else printf '%s\n' "$*"; fi
}

now_ms() { date +%s%3N; }

paint_desktop() {
  say "virtual display $DISPLAY ($(display_size)): painting the demo desktop"
  # The loader itself, not a shell around it: $! is then the painter, which the end kills.
  "$loader" "$painter" >"$frames/painter.log" 2>&1 &
  painter_pid=$!
  for _ in $(seq 100); do
    grep -q painted "$frames/painter.log" 2>/dev/null && break
    sleep 0.1
  done
  sleep 1
}

# The blank desktop: nothing on the virtual display, and a wallpaper of another size than the
# screen's, filled, in the user's settings; the values it had come back at the end.
desktop_key='HKCU\Control Panel\Desktop'
saved_desktop=()
save_desktop_value() {
  local line
  line=$(wine reg query "$desktop_key" /v "$1" 2>/dev/null | tr -d '\r' | grep -E "^ +$1 +REG_" || true)
  saved_desktop+=("$1" "$(echo "$line" | awk '{print $2}')" "$(echo "$line" | sed -E 's/^ +[^ ]+ +[^ ]+ *//')")
}
set_blank_desktop() {
  local picture="$frames/wallpaper.jpg" value
  say "virtual display $DISPLAY ($(display_size)): blank, with a 1600x1000 wallpaper, filled"
  convert -size 1600x1000 -seed 11 plasma:teal-navy -blur 0x4 \
    -fill '#f0c040' -draw 'circle 1180,300 1180,380' -fill '#203050' \
    -draw 'polygon 0,1000 420,560 760,820 1100,480 1600,900 1600,1000' -quality 90 "$picture"
  for value in Wallpaper WallpaperStyle TileWallpaper; do save_desktop_value $value; done
  wine reg add "$desktop_key" /v Wallpaper /d "$(wine winepath -w "$picture" 2>/dev/null | tr -d '\r')" \
    /f >/dev/null 2>&1
  wine reg add "$desktop_key" /v WallpaperStyle /d 10 /f >/dev/null 2>&1
  wine reg add "$desktop_key" /v TileWallpaper /d 0 /f >/dev/null 2>&1
}
restore_desktop() {
  local i
  for ((i = 0; i < ${#saved_desktop[@]}; i += 3)); do
    if [ -n "${saved_desktop[i + 1]}" ]; then
      wine reg add "$desktop_key" /v "${saved_desktop[i]}" /t "${saved_desktop[i + 1]}" \
        /d "${saved_desktop[i + 2]}" /f >/dev/null 2>&1
    else
      wine reg delete "$desktop_key" /v "${saved_desktop[i]}" /f >/dev/null 2>&1 || true
    fi
  done
}

# A short fingerprint of the screen, and a wait until the screen no longer matches one.
screen_print() { import -window root -resize 8x8! txt:- 2>/dev/null | md5sum; }
wait_for_change() {
  for _ in $(seq 100); do
    [ "$(screen_print)" != "$1" ] && return 0
    sleep 0.05
  done
}

store_settings() {
  wine reg add 'HKCU\Software\Quorvel\Vandrel' /v Method /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Quorvel\Vandrel' /v Lossy /t REG_DWORD /d "$2" /f >/dev/null 2>&1
}

start_saver() {
  wine "$scr" /s &
  saver=$!
  for _ in $(seq 200); do
    xdotool search --name '^Screen Saver$' >/dev/null 2>&1 && break
    sleep 0.05
  done
}

# End the run the way a user does: move the pointer. Sets code to the exit code, or "timeout".
end_saver() {
  xdotool mousemove $((screen_width / 2 + 50)) $((screen_height / 2 + 20))
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
  return 0
}

# Frames at an even pace over the run, the first at its start and the last at its end; a frame
# whose time has passed while the one before was taken is left out. Sets frame to their count.
record_frames() {
  local shots=$1 label=$2 start interval elapsed due next
  interval=$((seconds * 1000 / (max_frames - 1)))
  start=$(now_ms)
  frame=0 next=0
  while [ $next -lt $max_frames ]; do
    due=$((next * interval))
    [ $next = $((max_frames - 1)) ] && due=$((seconds * 1000))
    elapsed=$(($(now_ms) - start))
    if [ $elapsed -lt $due ]; then
      sleep "$(printf '%d.%03d' $(((due - elapsed) / 1000)) $(((due - elapsed) % 1000)))"
    fi
    import -window root -resize "$frame_scale" "$shots/frame-$(printf %04d $frame).png"
    frame=$((frame + 1))
    elapsed=$(($(now_ms) - start))
    progress "$label: $((elapsed / 1000))/$seconds s, $frame frames"
    next=$((next + 1))
    # Skip the frames that fell due while this one was taken.
    while [ $next -lt $((max_frames - 1)) ] && [ $((next * interval)) -lt $elapsed ]; do
      next=$((next + 1))
    done
  done
}

# The animation: real time for a short run, sped up to max_play_seconds for a longer one. One
# palette for all frames, and each frame keeps only the pixels that changed by more than 1 %:
# the effect changes a few scattered pixels between frames, and everything else compresses to
# runs of transparency. Too large a file is made again at three quarters of the size, and so on.
make_gif() {
  local shots=$1 gif=$2 count=$3 delay scale=100
  local play=$((seconds < max_play_seconds ? seconds : max_play_seconds))
  delay=$((play * 100 / count))
  [ $delay -ge 2 ] || delay=2
  while :; do
    convert -delay "$delay" -loop 0 "$shots"/frame-*.png -resize "$scale%" +dither +remap \
      -fuzz 1% -layers OptimizeTransparency "$gif"
    if [ "$(stat -c %s "$gif")" -le $max_gif_bytes ] || [ $scale -le 20 ]; then break; fi
    scale=$((scale * 3 / 4))
  done
}

# Put together in the background, while the next run records: at the lowest priority, so that
# the next run's frames keep their pace.
make_pictures() {
  local shots=$1 name=$2 count=$3
  renice -n 19 -p "$BASHPID" >/dev/null
  blank_off_monitors 100 "$shots/before.png" "$shots/after.png"
  blank_off_monitors "$frame_scale" "$shots"/frame-*.png
  convert "$shots/before.png" "$shots/after.png" +append -resize 50% "$out/$name-before-after.png"
  cp "$shots/before.png" "$out/$name-before.png"
  cp "$shots/after.png" "$out/$name-after.png"
  make_gif "$shots" "$out/$name.gif" "$count"
}

# One run of the saver with one method and average; counts a run that does not end with 0.
record_run() {
  local method=$1 lossy=$2 average=rounded label name shots
  [ "$lossy" = 1 ] && average=lossy
  run=$((run + 1))
  name="${names[$method]}-$average"
  label="[$run/$total] ${titles[$method]}, $average average"
  store_settings "$method" "$lossy"
  xdotool mousemove $((screen_width / 2)) $((screen_height / 2))
  shots="$frames/$name"
  mkdir -p "$shots"
  # Over a blank screen the picture before is the saver's first frame.
  local blank_print=""
  if [ $blank = 1 ]; then blank_print=$(screen_print); else import -window root "$shots/before.png"; fi
  progress "$label: starting"
  start_saver
  [ $blank = 0 ] || { wait_for_change "$blank_print"; import -window root "$shots/before.png"; }
  record_frames "$shots" "$label"
  import -window root "$shots/after.png"
  end_saver
  make_pictures "$shots" "$name" "$frame" &
  report "$label: $seconds s, $frame frames, exit code $code"
  [ "$code" = 0 ] || failures=$((failures + 1))
}

wait_for_pictures() {
  local job
  for job in $(jobs -p); do
    [ "$job" = "${painter_pid:-}" ] || wait "$job"
  done
}

finish_headless() {
  [ $blank = 0 ] || restore_desktop
  rm -rf "$frames"
  [ -n "${painter_pid:-}" ] && kill "$painter_pid" 2>/dev/null
  if [ $own_state = 1 ]; then
    [ "$monitors" = 1 ] || wine_monitors_stop "$state" right
    wine_env_stop "$state"
  fi
  true
}

# Headless: a made-up desktop (or a blank one) on the virtual display, then one run per method
# and average.
run_headless() {
  mkdir -p "$out"
  out=$(cd "$out" && pwd)
  frames=$(mktemp -d)
  trap finish_headless EXIT
  screen_width=$(display_size) screen_height=${screen_width#*x} screen_width=${screen_width%x*}
  if [ $blank = 1 ]; then set_blank_desktop; else paint_desktop; fi
  total=$((${#run_methods[@]} * ${#run_averages[@]})) run=0 failures=0
  local method lossy
  for method in "${run_methods[@]}"; do
    for lossy in "${run_averages[@]}"; do
      record_run "$method" "$lossy"
    done
  done
  say "putting the last pictures together"
  wait_for_pictures
  say "pictures in $out"
  ls "$out"
  if [ $failures -gt 0 ]; then
    say "$failures run(s) did not end with exit code 0"
    exit 1
  fi
}

parse_options "$@"
[ $nobuild = 1 ] || bash scripts/bootstrap.sh
choose_module
[ $nobuild = 1 ] || build_programs
start_wine_world
case "$mode" in
  fullscreen) run_fullscreen ;;
  preview) run_preview ;;
  config) run_config ;;
  headless) run_headless ;;
esac
