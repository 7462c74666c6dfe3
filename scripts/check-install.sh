#!/usr/bin/env bash
# The zip's Vandrel.inf as the shell's Install runs it, in a Wine prefix of its own: over an older
# version and again, one module (the zip's) in system32, selected, listed once; the entry's own
# command removes all of it and keeps the user's settings. The 95 family's sections as well.
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
sed "s/^\(HKLM,.*DisplayVersion.*\)$version/\10.9/" "$work/zip/Vandrel.inf" >"$work/older/Vandrel.inf"
install "$work/older/Vandrel.inf" && expect "$entry" DisplayVersion 0.9
install "$work/zip/Vandrel.inf"

cmp "$windows/system32/Vandrel.scr" "$work/zip/Vandrel.scr" || fail "system32 lacks the zip's module"
cmp "$windows/inf/Vandrel.inf" "$work/zip/Vandrel.inf" || fail "the INF folder lacks the .inf"
expect "$desktop" SCRNSAVE.EXE 'C:\windows\system32\Vandrel.scr'
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

win uninstaller.exe --remove Vandrel
files | diff "$work/files-before" - || fail "files the install left (>) or took (<)"
[ "$(entries)" = 0 ] || fail "the installed-programs list still has Vandrel"
win reg.exe query "$entry" >/dev/null && fail "the uninstall entry is still there"
expect "$desktop" SCRNSAVE.EXE ''
expect "$settings" Method 0x3

# Wine's setupapi runs the 95 family's sections when it reports Windows 98 to rundll32; its
# UpdateInis cannot delete a line, so system.ini is not checked after the removal.
win reg.exe add 'HKCU\Software\Wine\AppDefaults\rundll32.exe' /v Version /d win98 /f >/dev/null
install "$work/zip/Vandrel.inf"
tr -d '\r' <"$windows/system.ini" | grep -qxF 'SCRNSAVE.EXE=C:\windows\system32\Vandrel.scr' ||
  fail "system.ini [boot] does not select the saver"
expect "$desktop" SCRNSAVE.EXE 'C:\windows\system32\Vandrel.scr'
expect "$entry" UninstallString \
  'RunDll setupx.dll,InstallHinfSection DefaultUninstall 132 C:\windows\inf\Vandrel.inf'
win rundll32.exe setupapi.dll,InstallHinfSection DefaultUninstall 132 'C:\windows\inf\Vandrel.inf'
[ "$(entries)" = 0 ] && [ ! -e "$windows/system32/Vandrel.scr" ] || fail "95 family: not removed"
[ $status = 0 ] && echo "installed from $(basename "$zip"), selected, listed once, removed"
exit $status
