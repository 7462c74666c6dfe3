#!/usr/bin/env bash
# How the scripts tell that 32-bit Wine would run under an emulator, on binfmt_misc files of
# the kernel's shape, and the reason the tests of the real module then give for skipping.
set -uo pipefail
# shellcheck source=../scripts/wine-env.sh
source "$(dirname "$0")/../scripts/wine-env.sh"
dir=$(mktemp -d) && trap 'rm -rf "$dir"' EXIT && mkdir "$dir/bin"
wine_env_binfmt=$dir wine_env_wine32=$dir/bin/wine
qemu=/usr/bin/qemu-i386-static status=0
i386=7f454c4601010100000000000000000002000300 amd64=7f454c4602010100000000000000000002003e00
mask=fffffffffffefe00fffffffffffffffffeffffff
# binfmt_misc's state, its one handler (first line, magic, mask) and 32-bit Wine's ABI byte.
given() {
  echo "$1" >"$dir/status"
  printf '%s\ninterpreter %s\nflags: F\noffset 0\nmagic %s\nmask %s\n' "$2" "$qemu" "$3" "$4" \
    >"$dir/qemu-i386"
  printf "\177ELF\1\1\1\\$5\0\0\0\0\0\0\0\0\2\0\3\0" >"$dir/bin/wine"
}
while IFS='|' read -r expected binfmt handler magic keep abi; do
  given "$binfmt" "$handler" "$magic" "$keep" "$abi"
  got=$(wine_env_wine32_emulator)
  [ "$got" = "$expected" ] || { echo "FAIL: $binfmt $handler $magic/$keep abi $abi: '$got'" && status=1; }
done <<TABLE
$qemu|enabled|enabled|$i386|$mask|0
$qemu|enabled|enabled|$i386|$mask|3
$qemu|enabled|enabled|$i386||0
|enabled|disabled|$i386|$mask|0
|disabled|enabled|$i386|$mask|0
|enabled|enabled|$amd64|$mask|0
|enabled|enabled|$i386|ffffffffffffff|3
TABLE

given enabled enabled "$i386" "$mask" 0
wine_env_wine32_missing() { :; } # installed, and it starts
reason=$(VANDREL_NEEDS_WINE32=1 wine_env_skip_without_wine32)
[ $? = 77 ] && [ "$reason" = "skipped: 32-bit Wine runs here only under emulation ($qemu), minutes for each program; VANDREL_EMULATED_WINE32=1 runs these tests anyway" ] ||
  { echo "FAIL: the reason for skipping is '$reason'" && status=1; }
[ -z "$(VANDREL_EMULATED_WINE32=1 wine_env_wine32_left_out)" ] || { echo "FAIL: left out though asked for" && status=1; }
[ $status = 0 ] && echo "32-bit Wine seen through binfmt_misc as expected in every case"
exit $status
