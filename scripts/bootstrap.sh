#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian's packages, and
# makes 32-bit Windows programs runnable. Idempotent: when all is present it only checks.
set -euo pipefail

packages=(
  cmake ninja-build make g++ clang clang-format libclang-rt-14-dev llvm
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
  googletest libgtest-dev libbenchmark-dev
  wine wine32:i386 wine64 xvfb xdotool x11-utils imagemagick zip unzip
  xserver-xephyr libxinerama1:i386 libxrandr2:i386
)

say() { echo "bootstrap: $*"; }

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  missing=("${packages[@]}")
else
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
fi

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    say "$1; run this script as root"
    exit 1
  fi
}

if [ ${#missing[@]} -gt 0 ]; then
  need_root "missing packages: ${missing[*]}"
  say "installing ${missing[*]} (a few minutes on a fresh machine)"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
fi

# 32-bit Wine is a 32-bit Linux program. A kernel built without 32-bit support cannot start
# it, so there it runs under qemu's user-mode emulation, registered for i386 executables.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  need_root "this kernel cannot run 32-bit programs and needs qemu registered for them"
  if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q 'install ok installed'; then
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
  fi
  /usr/lib/wine/wine --version >/dev/null
fi
