#!/usr/bin/env bash
# The build tree's own Wine world: a prefix under the build folder and, when no display is
# set, an Xvfb display of 1920x1080 (or VANDREL_SCREEN_SIZE) started on first use. Sourced by wine-run.sh and the demo;
# run directly as `wine-env.sh start|stop BUILD_DIR`.

# 32-bit Wine's loader, and the kernel's handlers of other executables (binfmt_misc).
wine_env_wine32=/usr/lib/wine/wine wine_env_binfmt=/proc/sys/fs/binfmt_misc

wine_env_prepare() {
  local build
  mkdir -p "$1"
  build=$(cd "$1" && pwd)
  export WINEPREFIX="$build/wine/prefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  export WINEARCH=win64
  mkdir -p "$build/wine"
  (
    flock 9
    wine_env_display "$build"
    local display=":$(cat "$build/wine/display" 2>/dev/null || echo "${DISPLAY#:}")"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      DISPLAY=$display "$(wine_env_loader)" wineboot.exe -i >/dev/null 2>&1 9>&-
      wineserver -w 9>&-
    fi
    DISPLAY=$display wine_env_update_for_wine32
  ) 9>"$build/wine/lock"
  if [ -f "$build/wine/display" ]; then
    export DISPLAY=":$(cat "$build/wine/display")"
  fi
}

# A prefix made while 32-bit Wine was missing has no 32-bit system folder, and the real module
# cannot start in it. Once 32-bit Wine is there (the set-up finished later), the prefix is
# brought up to date for it, as Wine does after an upgrade. Called with the prefix's lock held.
wine_env_update_for_wine32() {
  [ ! -e "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] || return 0
  [ -z "$(wine_env_wine32_left_out)" ] || return 0
  rm -f "$WINEPREFIX/.update-timestamp"
  "$(wine_env_loader)" wineboot.exe -u >/dev/null 2>&1 </dev/null 9>&-
}

# The build tree's test display: the one in DISPLAY, or else an Xvfb of its own, started once
# and named in BUILD/wine/display. Called with BUILD/wine/lock held.
wine_env_display() {
  local build=$1
  [ -z "${DISPLAY:-}" ] || [ -f "$build/wine/display" ] || return 0
  local display pid
  display=$(cat "$build/wine/display" 2>/dev/null || true)
  pid=$(cat "$build/wine/xvfb.pid" 2>/dev/null || true)
  if [ -z "$display" ] || [ -z "$pid" ] || ! kill -0 "$pid" 2>/dev/null; then
    display=$(wine_env_free_display)
    Xvfb ":$display" -screen 0 "${VANDREL_SCREEN_SIZE:-1920x1080}x24" -nolisten tcp \
      >/dev/null 2>&1 9>&- &
    echo $! >"$build/wine/xvfb.pid"
    echo "$display" >"$build/wine/display"
    wine_env_wait_display "$display"
  fi
}

wine_env_wait_display() {
  for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$1" ] && return 0
    sleep 0.05
  done
}

# The 64-bit loader: the prefix's own programs and the test programs run natively under it.
# Where 32-bit Wine would run under emulation and is not wanted, the loader that cannot start it.
wine_env_loader() {
  if [ -n "$(wine_env_wine32_unwanted_emulator)" ]; then
    wine_env_loader_without_wine32
  else
    command -v wine64 || echo /usr/lib/wine/wine64
  fi
}

# Wine 8 starts a 32-bit program with the loader beside the running one's real path
# (/usr/lib/wine/wine beside /usr/lib/wine/wine64). A copy of the 64-bit loader in a folder of
# its own has none beside it, so a 32-bit program, the 32-bit half of a prefix's boot among
# them, fails at once as where 32-bit Wine is missing, and never runs for minutes under the
# emulator. The copy reaches Wine's libraries and data through links laid out as in /usr.
wine_env_loader_without_wine32() {
  local system=/usr/lib/wine/wine64 dir
  dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wine64-only"
  if ! cmp -s "$system" "$dir/lib/wine/wine64"; then
    mkdir -p "$dir/lib/wine" "$dir/share"
    [ -e "$dir/lib/x86_64-linux-gnu" ] || ln -s /usr/lib/x86_64-linux-gnu "$dir/lib/"
    [ -e "$dir/share/wine" ] || ln -s /usr/share/wine "$dir/share/"
    [ -e "$dir/lib/wine/wineserver" ] || ln -s /usr/lib/wine/wineserver "$dir/lib/wine/"
    cp "$system" "$dir/lib/wine/wine64.$$" && mv -f "$dir/lib/wine/wine64.$$" "$dir/lib/wine/wine64"
  fi
  echo "$dir/lib/wine/wine64"
}

# Why the real 32-bit module cannot run here, or nothing when it can.
wine_env_wine32_missing() {
  if [ ! -x "$wine_env_wine32" ]; then
    echo "32-bit Wine (wine32:i386) is not installed; bash scripts/bootstrap.sh, as root, installs it once its package index can be fetched"
  elif ! "$wine_env_wine32" --version >/dev/null 2>&1; then
    echo "32-bit Wine is installed but does not start on this kernel; bash scripts/bootstrap.sh, as root, registers qemu for it"
  fi
}

# The emulator that runs 32-bit Wine here, or nothing where the processor runs it. The kernel
# asks binfmt_misc's handlers before its own loader, so an enabled handler whose magic and mask
# match 32-bit Wine's header takes it even on a kernel that runs 32-bit programs.
wine_env_wine32_emulator() {
  local entry header
  [ -r "$wine_env_wine32" ] && grep -qsx enabled "$wine_env_binfmt/status" || return 0
  header=$(od -An -v -tx1 -N256 "$wine_env_wine32" | tr -d ' \n')
  for entry in "$wine_env_binfmt"/*; do
    local state="" interpreter="" offset=0 magic="" mask="" key value byte keep i
    while read -r key value; do
      case $key in
        enabled | disabled) state=$key ;;
        interpreter | offset | magic | mask) printf -v "$key" %s "$value" ;;
      esac
    done 2>/dev/null <"$entry"
    # Skipped: a disabled handler, the status file, a handler chosen by the file name's extension.
    [ "$state" = enabled ] && [ -n "$magic" ] || continue
    for ((i = 0; i < ${#magic}; i += 2)); do
      byte=${header:offset * 2 + i:2} keep=${mask:i:2}
      [ -n "$byte" ] || continue 2
      (((0x$byte ^ 0x${magic:i:2}) & 0x${keep:-ff})) && continue 2
    done
    echo "$interpreter"
    return 0
  done
}

# The emulator that would run 32-bit Wine, unless VANDREL_EMULATED_WINE32=1 asks for it.
wine_env_wine32_unwanted_emulator() {
  [ "${VANDREL_EMULATED_WINE32:-}" = 1 ] || wine_env_wine32_emulator
}

# Why the tests of the real 32-bit module do not run here, or nothing when they do: 32-bit Wine
# is missing, or it runs only under emulation (minutes for each start), unless
# VANDREL_EMULATED_WINE32=1 asks for it anyway.
wine_env_wine32_left_out() {
  local missing emulator
  missing=$(wine_env_wine32_missing)
  [ -z "$missing" ] || { echo "$missing" && return 0; }
  emulator=$(wine_env_wine32_unwanted_emulator)
  [ -n "$emulator" ] || return 0
  echo "32-bit Wine runs here only under emulation ($emulator), minutes for each program; VANDREL_EMULATED_WINE32=1 runs these tests anyway"
}

# For a test that runs the real 32-bit module: where 32-bit Wine is left out it says why and
# ends with the exit code that CTest counts as skipped (SKIP_RETURN_CODE 77).
wine_env_skip_without_wine32() {
  [ -n "${VANDREL_NEEDS_WINE32:-}" ] || return 0
  local reason
  reason=$(wine_env_wine32_left_out)
  [ -n "$reason" ] || return 0
  echo "skipped: $reason"
  exit 77
}

wine_env_free_display() {
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do
    n=$((n + 1))
  done
  echo "$n"
}

wine_env_stop() {
  local build
  build=$(cd "$1" && pwd)
  WINEPREFIX="$build/wine/prefix" wineserver -k 2>/dev/null || true
  local pid
  pid=$(cat "$build/wine/xvfb.pid" 2>/dev/null || true)
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -f "$build/wine/xvfb.pid" "$build/wine/display"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  case "${1:-}" in
    start)
      wine_env_prepare "$2"
      # Keep one server for the whole run, so each program does not start its own.
      # It answers 2 when a server runs already, one that a run cut short left: that one is kept.
      wineserver -p >/dev/null 2>&1 </dev/null || [ $? = 2 ]
      # Start the prefix's own long-lived processes (the desktop, the services) here, away
      # from any test's output pipe, which they would otherwise hold open.
      "$(wine_env_loader)" wineboot.exe >/dev/null 2>&1 </dev/null
      echo "wine prefix $WINEPREFIX on display $DISPLAY"
      ;;
    stop) wine_env_stop "$2" ;;
    *)
      echo "usage: $0 start|stop BUILD_DIR" >&2
      exit 2
      ;;
  esac
fi
