#!/usr/bin/env bash
# The zip's Vandrel.inf as the shell's Install runs it, in a Wine prefix of its own: over an older
# version (in system32) and again, one module (the zip's) in the Windows folder, selected, listed
# once; the entry's own command removes all of it and keeps the user's settings. The same through
# the 32-bit engine (where 32-bit Wine runs), and the 95 family's sections.
#
#   scripts/check-install.sh ZIP WORK_PARENT    (exit 77 where there is no 64-bit Wine)
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"
loader=$(wine_env_loader)
[ -x "$loader" ] || { echo "skipped: no 64-bit Wine at $loader"; exit 77; }
zip=$(readlink -f "$1") work=$(mkdir -p "$2" && cd "$2" && pwd)/install-check
rm -rf "$work" && mkdir -p "$work/older" && unzip -q "$zip" -d "$work/zip" || exit 1
unset DISPLAY
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= WINEARCH=win64
trap 'wineserver -k 2>/dev/null' EXIT
"$loader" wineboot.exe -i >/dev/null 2>&1 && wineserver -w || exit 1
# One server for every step, so that no step meets a server that is on its way out.
wineserver -p >/dev/null 2>&1 </dev/null

status=0
fail() { echo "FAIL: $*" && status=1; }
win() { "$loader" "$@" 2>/dev/null | tr -d '\r'; }
value() { win reg.exe query "$1" /v "$2" | sed -n "s/^ *$2 *REG_[A-Z]* *//p"; }
install() { win rundll32.exe setupapi.dll,InstallHinfSection DefaultInstall 128 "Z:${1//\//\\}"; }
expect() { local got; got=$(value "$1" "$2"); [ "$got" = "$3" ] || fail "$2 is '$got', not '$3'"; }
entries() { win uninstaller.exe --list | grep -c '^Vandrel|||Vandrel Saver$'; }
files() { (cd "$WINEPREFIX/drive_c" && find . -type f | sort); }
desktop='HKCU\Control Panel\Desktop' settings='HKCU\Software\Quorvel\Vandrel'
entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vandrel'
version=$(basename "$zip" .zip) version=${version#Vandrel-}
windows=$WINEPREFIX/drive_c/windows

files >"$work/files-before"
win reg.exe add "$settings" /v Method /t REG_DWORD /d 3 /f >/dev/null
cp "$work/zip/Vandrel.scr" "$work/older/"
sed -e "s/^\(HKLM,.*DisplayVersion.*\)$version/\10.9/" -e 's/%10%/%11%/g' \
  -e '/^DelFiles=Vandrel.Module.S/d' -e 's/^Vandrel.Module=10/Vandrel.Module=11/' \
  "$work/zip/Vandrel.inf" >"$work/older/Vandrel.inf"
install "$work/older/Vandrel.inf" && expect "$entry" DisplayVersion 0.9
[ -e "$windows/system32/Vandrel.scr" ] || fail "the older version is not in system32"
install "$work/zip/Vandrel.inf"

installed() {
  expect "$desktop" SCRNSAVE.EXE 'C:\windows\Vandrel.scr'
  cmp "$windows/Vandrel.scr" "$work/zip/Vandrel.scr" || fail "C:\windows lacks the zip's module"
  [ ! -e "$windows/system32/Vandrel.scr" ] && [ ! -e "$windows/syswow64/Vandrel.scr" ] ||
    fail "an older module is left in system32 or syswow64"
  [ "$(entries)" = 1 ] || fail "$(entries) entries $1, not 1"
}
installed "after the upgrade"
cmp "$windows/inf/Vandrel.inf" "$work/zip/Vandrel.inf" || fail "the INF folder lacks the .inf"
expect "$entry" DisplayIcon 'C:\windows\Vandrel.scr'
expect "$desktop" ScreenSaveActive 1
expect "$entry" DisplayName 'Vandrel Saver'
expect "$entry" DisplayVersion "$version"
expect "$entry" Publisher Quorvel
kb=$((($(stat -c %s "$work/zip/Vandrel.scr") + 1023) / 1024))
expect "$entry" EstimatedSize "$(printf 0x%x $kb)"
expect "$entry" UninstallString \
  'RunDll32.exe setupapi.dll,InstallHinfSection DefaultUninstall 132 C:\windows\inf\Vandrel.inf'
install "$work/zip/Vandrel.inf"
[ "$(entries)" = 1 ] || fail "$(entries) entries after installing again, not 1"
removed() {
  win uninstaller.exe --remove Vandrel
  files | diff "$work/files-before" - || fail "$1: files the install left (>) or took (<)"
  [ "$(entries)" = 0 ] || fail "$1: the installed-programs list still has Vandrel"
}
removed "64-bit engine"
win reg.exe query "$entry" >/dev/null && fail "the uninstall entry is still there"
expect "$desktop" SCRNSAVE.EXE ''
expect "$settings" Method 0x3

# As a 32-bit file manager's Install starts it on 64-bit Windows; cleans up an older version's
# 32-bit install (module in syswow64, entry under Wow6432Node) and a module left in system32.
why=$(wine_env_wine32_missing)
[ -n "$why" ] || [ -e "$windows/syswow64/rundll32.exe" ] ||
  why="32-bit Wine did not set up syswow64 here, so it runs no program"
if [ -n "$why" ]; then echo "skipped the 32-bit engine: $why"
else
  install32() { loader=/usr/lib/wine/wine win 'C:\windows\syswow64\rundll32.exe' \
    setupapi.dll,InstallHinfSection DefaultInstall 128 "Z:${1//\//\\}"; }
  install32 "$work/older/Vandrel.inf" && [ -e "$windows/syswow64/Vandrel.scr" ] ||
    fail "the older version's 32-bit install is not in syswow64"
  cp "$work/older/Vandrel.scr" "$windows/system32/"
  install32 "$work/zip/Vandrel.inf"; installed "after the 32-bit engine's upgrade"
  install "$work/zip/Vandrel.inf"; installed "after the 64-bit engine's install over it"
  removed "32-bit engine"
fi

# Wine's setupapi runs the 95 family's sections when it reports Windows 98 to rundll32; its
# UpdateInis cannot delete a line, so system.ini is not checked after the removal.
win reg.exe add 'HKCU\Software\Wine\AppDefaults\rundll32.exe' /v Version /d win98 /f >/dev/null
install "$work/zip/Vandrel.inf"
tr -d '\r' <"$windows/system.ini" | grep -qxF 'SCRNSAVE.EXE=C:\windows\Vandrel.scr' ||
  fail "system.ini [boot] does not select the saver"
expect "$desktop" SCRNSAVE.EXE 'C:\windows\Vandrel.scr'
expect "$entry" UninstallString \
  'RunDll setupx.dll,InstallHinfSection DefaultUninstall 132 C:\windows\inf\Vandrel.inf'
win rundll32.exe setupapi.dll,InstallHinfSection DefaultUninstall 132 'C:\windows\inf\Vandrel.inf'
[ "$(entries)" = 0 ] && [ ! -e "$windows/Vandrel.scr" ] || fail "95 family: not removed"
[ $status = 0 ] && echo "installed from $(basename "$zip"), selected, listed once, removed"
exit $status
