#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian's packages, and
# makes 32-bit Windows programs runnable. Idempotent: when all is present it only checks.
#
# A package index can be broken for hours ("File has unexpected size ... Mirror sync in
# progress?"). The set-up then goes on with the lists it has: it installs whatever can be
# installed and says, one line each, which index it could not fetch and what it could not
# install. Without 32-bit Wine everything still builds and every test that does not need it
# runs; the others report themselves as skipped. Run this script again later to finish.
#
# VANDREL_APT_TRIES (default 3) and VANDREL_APT_PAUSE (seconds, default 20) set how often a
# failed `apt-get update` is tried and how long it waits between tries; each try is given at
# most VANDREL_APT_TIMEOUT seconds (default 120). So at most 3 x 120 + 2 x 20 = 400 s go by
# before it goes on with the lists it has; a broken index usually fails within seconds, and
# then the wait is the 40 s of pauses.
set -euo pipefail

# What the build, the native and 64-bit tests and the demo need.
packages=(
  cmake ninja-build make g++ clang clang-format libclang-rt-14-dev llvm
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
  googletest libgtest-dev libbenchmark-dev
  wine wine64 xvfb xdotool x11-utils imagemagick zip unzip xserver-xephyr
)
# What runs the real 32-bit module: 32-bit Wine, and the i386 X libraries through which it
# finds several monitors.
packages32=(wine32:i386 libxinerama1:i386 libxrandr2:i386)
finish_later="apt-get update && apt-get install wine32:i386 libxinerama1:i386 libxrandr2:i386, or bash scripts/bootstrap.sh again"

tries=${VANDREL_APT_TRIES:-3}
pause=${VANDREL_APT_PAUSE:-20}
try_timeout=${VANDREL_APT_TIMEOUT:-120}

say() { echo "bootstrap: $*"; }

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing_of() {
  local p
  for p in "$@"; do installed "$p" || echo "$p"; done
}

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    say "$1; run this script as root"
    exit 1
  fi
}

# apt-get update, tried again after a pause while an index fails. Then it goes on with the
# lists it has, naming in one line what it could not fetch.
update_package_lists() {
  local log try
  log=$(mktemp)
  for try in $(seq "$tries"); do
    if timeout "$try_timeout" apt-get update -qq >"$log" 2>&1; then
      rm -f "$log"
      return 0
    fi
    [ "$try" -lt "$tries" ] || break
    say "apt-get update failed (try $try of $tries); trying again in $pause s"
    sleep "$pause"
  done
  local failed
  failed=$(sed -n 's/^E: Failed to fetch \([^ ]*\) *\(.*\)/\1 (\2)/p' "$log" | paste -sd ';' -)
  [ -n "$failed" ] || failed=$(grep -m1 '^E:' "$log" || echo "apt-get update exited non-zero")
  unfetched=$failed
  say "going on with the package lists at hand; could not fetch after $tries tries: $failed"
  rm -f "$log"
}

# Installs the packages in one go, or, when apt refuses the set, one by one: whatever can be
# installed is. Prints the packages it could not install.
install_what_can_be() {
  [ $# -gt 0 ] || return 0
  if apt-get install -y -qq --no-install-recommends "$@" >/dev/null 2>&1; then return 0; fi
  local p
  for p in "$@"; do
    apt-get install -y -qq --no-install-recommends "$p" >/dev/null 2>&1 || echo "$p"
  done
}

# Why apt will not install these packages, in its own words.
apt_reason() {
  local verdict
  verdict=$(apt-get install -y --no-install-recommends --simulate "$@" 2>&1 |
    sed -n 's/^E: //p' | head -n1 || true)
  echo "apt: ${verdict:-refused}"
}

missing=($(missing_of "${packages[@]}"))
dpkg --print-foreign-architectures | grep -qx i386 || missing32_arch=1
missing32=($(missing_of "${packages32[@]}"))

if [ ${#missing[@]} -gt 0 ] || [ ${#missing32[@]} -gt 0 ]; then
  need_root "missing packages: $(echo "${missing[@]}" "${missing32[@]}")"
  say "installing $(echo "${missing[@]}" "${missing32[@]}") (a few minutes on a fresh machine)"
  [ -z "${missing32_arch:-}" ] || dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  update_package_lists
  not_installed=$(install_what_can_be "${missing[@]}")
  if [ -n "$not_installed" ]; then
    say "could not install: $(echo "$not_installed" | paste -sd ' ' -) ($(apt_reason $not_installed)); the build or some tests may fail for want of them"
  fi
  if [ ${#missing32[@]} -gt 0 ] &&
    ! apt-get install -y -qq --no-install-recommends "${missing32[@]}" >/dev/null 2>&1; then
    cause="apt knows no i386 versions that match the libraries installed, usually because an i386 package index could not be fetched"
    case "${unfetched:-}" in *i386*) cause="the i386 package index above could not be fetched, so apt knows no i386 versions that match the libraries installed" ;; esac
    say "32-bit Wine could not be installed ($(apt_reason "${missing32[@]}")); likely cause: $cause; everything builds and every other test runs, the 32-bit ones are skipped; to finish later: $finish_later"
  fi
fi

# 32-bit Wine is a 32-bit Linux program. A kernel built without 32-bit support cannot start
# it, so there it runs under qemu's user-mode emulation, registered for i386 executables. It is
# slow there: the tests leave the real module out unless asked (wine_env_wine32_left_out).
if [ -x /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  need_root "this kernel cannot run 32-bit programs and needs qemu registered for them"
  if ! installed qemu-user-static; then
    say "installing qemu-user-static: this kernel runs no 32-bit programs by itself"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null
  fi
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
  if [ ! -e "$binfmt/qemu-i386" ]; then
    say "registering qemu-i386 for 32-bit executables"
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" >"$binfmt/register"
  elif [ "$(head -n1 "$binfmt/qemu-i386")" != enabled ]; then
    say "enabling the qemu-i386 entry of binfmt_misc, which was disabled"
    echo 1 >"$binfmt/qemu-i386" || true
  fi
  if ! failure=$(/usr/lib/wine/wine --version 2>&1 >/dev/null); then
    say "32-bit Wine does not start even with qemu-i386 (${failure:-no message}; $binfmt/qemu-i386 says: $(head -n1 "$binfmt/qemu-i386" 2>/dev/null || echo missing)); everything builds and every other test runs, the 32-bit ones are skipped"
  fi
fi
exit 0
