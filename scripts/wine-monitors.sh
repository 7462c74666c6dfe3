#!/usr/bin/env bash
# A Wine world with two monitors, beside the build tree's own one-monitor world
# (wine-env.sh): a nested X server (Xephyr) with Xinerama and two screens, 1024x768 and
# 800x600, whose windows sit off screen on the build tree's test display, and a Wine prefix
# of its own that reads the monitors from Xinerama (Wine's XRandR handler sees the nested
# server as one output, so it is switched off for this prefix).
#
#   wine-monitors.sh start BUILD_DIR LAYOUT     makes the world (once) and starts its server
#   wine-monitors.sh stop BUILD_DIR LAYOUT      ends its wineserver and its X server
#   wine-monitors.sh run BUILD_DIR LAYOUT PROGRAM [ARGS...]
#                                               runs a Windows program in it, like wine-run.sh
#
# LAYOUT says where the second monitor stands (Windows coordinates, the primary at 0,0):
#   right   800x600 at 1024,0: virtual screen 0,0 to 1824,768
#   left    800x600 at -800,0: virtual screen -800,0 to 1024,768
# Each layout is its own world under BUILD_DIR/monitors/LAYOUT (prefix, display, server pid);
# making its prefix takes about 20 s, once.
#
# A test in it, from tests/CMakeLists.txt (the fixture monitors_LAYOUT is set up there):
#   add_test(NAME my_test COMMAND ${VANDREL_MONITORS_RUN} right $<TARGET_FILE:my_test> ...)
#   set_tests_properties(my_test PROPERTIES
#     FIXTURES_REQUIRED "wine;monitors_right" RESOURCE_LOCK monitors_right_screen)
# Inside, GetSystemMetrics, EnumDisplayMonitors, GetDC(NULL), SetCursorPos and SendInput
# all see both monitors. The world's registry is its own: a test sets a value for it with
#   add_test(NAME my_setting COMMAND ${VANDREL_MONITORS_RUN} right reg.exe add KEY /v NAME ...)
# (made a FIXTURES_SETUP of its own that requires monitors_right). Programs outside Wine
# reach the world through DISPLAY: `source` this script, call `wine_monitors_prepare
# BUILD_DIR LAYOUT`, and DISPLAY names the nested server (for xdotool, `import -window root`,
# `display -window root PICTURE`; X coordinates there are the Windows ones shifted so that
# the virtual screen's corner is 0,0).

here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"

wine_monitors_screens() {
  # Each -screen's +X+Y places that screen's window on the host display, far off its area;
  # -origin places the screen in the Xinerama layout.
  case "$1" in
    right) echo "-screen 1024x768+4000+0 -screen 800x600+4000+1000" ;;
    left) echo "-origin 800,0 -screen 1024x768+4000+0 -origin 0,0 -screen 800x600+4000+1000" ;;
    *) return 1 ;;
  esac
}

# The world's X server, started on the build tree's test display when it does not run.
# Called with the world's lock held.
wine_monitors_server() {
  local build=$1 layout=$2 world=$3
  local pid
  pid=$(cat "$world/xephyr.pid" 2>/dev/null || true)
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && [ -s "$world/display" ]; then
    return 0
  fi
  # The build tree's lock, on the same descriptor as the world's: an Xvfb started here closes
  # it and so holds neither.
  local host
  host=$(
    flock 9
    wine_env_display "$build"
    cat "$build/wine/display" 2>/dev/null || echo "${DISPLAY#:}"
  ) 9>"$build/wine/lock"
  wine_env_wait_display "$host"
  rm -f "$world/display" "$world/display.new"
  # The server picks a free display number itself and writes it once it takes connections.
  # shellcheck disable=SC2046
  DISPLAY=":$host" Xephyr +xinerama $(wine_monitors_screens "$layout") -nolisten tcp -noreset \
    -no-host-grab -displayfd 3 3>"$world/display.new" </dev/null >"$world/xephyr.log" 2>&1 9>&- &
  echo $! >"$world/xephyr.pid"
  for _ in $(seq 200); do
    [ -s "$world/display.new" ] && break
    kill -0 "$!" 2>/dev/null || break
    sleep 0.05
  done
  if [ ! -s "$world/display.new" ]; then
    echo "wine-monitors: Xephyr did not start on :$host (see $world/xephyr.log)" >&2
    return 1
  fi
  tr -d '\n' <"$world/display.new" >"$world/display"
  rm -f "$world/display.new"
}

# Exports WINEPREFIX, DISPLAY and the rest for the world of BUILD_DIR and LAYOUT, making it
# first where needed.
wine_monitors_prepare() {
  local build layout=$2
  build=$(cd "$1" && pwd)
  wine_monitors_screens "$layout" >/dev/null || {
    echo "wine-monitors: layout is right or left, not '$layout'" >&2
    return 2
  }
  local world="$build/monitors/$layout"
  mkdir -p "$build/wine" "$world"
  export WINEPREFIX="$world/prefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  export WINEARCH=win64
  (
    flock 9
    wine_monitors_server "$build" "$layout" "$world" || exit 1
    if [ ! -f "$world/prefix-ready" ]; then
      local loader display
      loader=$(wine_env_loader)
      display=$(cat "$world/display")
      export DISPLAY=":$display"
      "$loader" wineboot.exe -i >/dev/null 2>&1 </dev/null 9>&-
      wineserver -w 9>&-
      "$loader" reg.exe add 'HKCU\Software\Wine\X11 Driver' /v UseXRandR /d N /f \
        >/dev/null 2>&1 </dev/null 9>&-
      # The value is read when the prefix's server and desktop start: end them.
      wineserver -w 9>&-
      touch "$world/prefix-ready"
    fi
    DISPLAY=":$(cat "$world/display")" wine_env_update_for_wine32
  ) 9>"$world/lock" || return 1
  local display
  display=$(cat "$world/display")
  export DISPLAY=":$display"
}

wine_monitors_stop() {
  local build world
  build=$(cd "$1" && pwd)
  world="$build/monitors/$2"
  WINEPREFIX="$world/prefix" wineserver -k 2>/dev/null || true
  local pid
  pid=$(cat "$world/xephyr.pid" 2>/dev/null || true)
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  rm -f "$world/xephyr.pid" "$world/display"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  command=${1:-}
  [ $# -ge 3 ] || command=usage
  case "$command" in
    start)
      wine_monitors_prepare "$2" "$3"
      # It answers 2 when a server runs already, one that a run cut short left: that one is kept.
      wineserver -p >/dev/null 2>&1 </dev/null || [ $? = 2 ]
      "$(wine_env_loader)" wineboot.exe >/dev/null 2>&1 </dev/null
      echo "wine prefix $WINEPREFIX on display $DISPLAY, monitors in X coordinates:"
      xdpyinfo -ext XINERAMA | grep 'head #'
      ;;
    stop) wine_monitors_stop "$2" "$3" ;;
    run)
      wine_env_skip_without_wine32
      wine_monitors_prepare "$2" "$3"
      shift 3
      exec "$(wine_env_loader)" "$@"
      ;;
    *)
      echo "usage: $0 start|stop BUILD_DIR right|left, or run BUILD_DIR right|left PROGRAM [ARGS...]" >&2
      exit 2
      ;;
  esac
fi
