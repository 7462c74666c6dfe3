#!/usr/bin/env bash
# The release zip is reproducible: packed from this source tree and from a copy of it in another
# folder (a git checkout of its own with the same commit time), each with a build tree of its
# own, the zips, their checksum files and the modules are the same bytes. Then the zip is held
# to what it must hold: the four files in order, a README.txt and a Vandrel.inf of CR LF lines
# naming the version, the README naming the settings' key, and checksums that match.
#
#   scripts/check-package.sh WORK_PARENT    (the suite passes its build folder)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(cd "$1" && pwd)/package-check
rm -rf "$work"
mkdir -p "$work/copy"

# The copy: every file git tracks or would track, as it is in the working tree, committed
# with this checkout's commit time, from which each run takes the zip's times. The caller's
# SOURCE_DATE_EPOCH would also fix the linker's time stamp, so it is left out.
unset SOURCE_DATE_EPOCH
(cd "$root" && git ls-files -z -co --exclude-standard) |
  while IFS= read -r -d '' file; do
    [ -e "$root/$file" ] || continue
    mkdir -p "$work/copy/$(dirname "$file")"
    cp -p "$root/$file" "$work/copy/$file"
  done
commit_time=$(git -C "$root" log -1 --format=%ct)
git -C "$work/copy" init -q
git -C "$work/copy" add -A
GIT_COMMITTER_DATE="@$commit_time" \
  git -C "$work/copy" -c user.name=check -c user.email=check@invalid commit -q -m copy

bash "$root/scripts/package.sh" --no-bootstrap --out "$work/dist-a" --build "$work/build-a"
bash "$work/copy/scripts/package.sh" --no-bootstrap --out "$work/dist-b"

status=0
fail() { echo "FAIL: $*"; status=1; }
zips=("$work"/dist-a/Vandrel-*.zip)
[ -f "${zips[0]}" ] || { echo "FAIL: no zip in $work/dist-a"; exit 1; }
zip=${zips[0]}
name=$(basename "$zip")
cmp "$zip" "$work/dist-b/$name" || fail "the two zips differ"
cmp "$zip.sha256" "$work/dist-b/$name.sha256" || fail "the two checksum files differ"
cmp "$work/build-a/Vandrel.scr" "$work/copy/build/release/Vandrel.scr" || fail "the modules differ"

version=$(sed -n 's/^project(Vandrel VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ "$name" = "Vandrel-$version.zip" ] || fail "$name is not named for version $version"
(cd "$work/dist-a" && sha256sum --quiet -c "$name.sha256") || fail "$name.sha256 does not match"

entries=$(unzip -Z1 "$zip" | tr '\n' ' ')
[ "$entries" = "README.txt SHA256SUMS Vandrel.inf Vandrel.scr " ] || fail "the zip holds: $entries"
mkdir "$work/unpacked"
unzip -q "$zip" -d "$work/unpacked"
(cd "$work/unpacked" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
for file in Vandrel.scr Vandrel.inf; do
  grep -q " $file\$" "$work/unpacked/SHA256SUMS" || fail "SHA256SUMS leaves out $file"
done
cmp "$work/unpacked/Vandrel.scr" "$work/build-a/Vandrel.scr" || fail "the zip's module is not the build's"
readme="$work/unpacked/README.txt" inf="$work/unpacked/Vandrel.inf"
for text in "$readme" "$inf"; do
  if grep -q $'[^\r]$' "$text" || grep -qx '' "$text"; then
    fail "$(basename "$text") has lines without CR LF"
  fi
done
grep -q "\"DisplayVersion\",,\"$version\""$'\r' "$inf" || fail "Vandrel.inf does not give version $version"
! grep -n '@' "$inf" || fail "Vandrel.inf has a placeholder left"
grep -q "Vandrel Saver $version"$'\r' "$readme" || fail "README.txt does not name version $version"
grep -q 'HKEY_CURRENT_USER\\Software\\Quorvel\\Vandrel' "$readme" ||
  fail "README.txt does not say where the settings live"

echo "$name: $(stat -c %s "$zip") bytes, sha256 $(cut -d' ' -f1 "$zip.sha256")"
[ $status = 0 ] && echo "the same bytes from both trees"
exit $status
