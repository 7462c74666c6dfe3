#!/usr/bin/env bash
# Builds the release of Vandrel.scr from a clean build tree and packs it for Windows users:
#
#   dist/Vandrel-VERSION.zip          Vandrel.scr, Vandrel.inf and README.txt (both CR LF
#                                     lines), SHA256SUMS
#   dist/Vandrel-VERSION.zip.sha256   the zip's own checksum
#
# The version is the project's (CMakeLists.txt). The same sources give the same bytes: the
# module carries no link time, and the zip's entries are in a fixed order with fixed times
# (SOURCE_DATE_EPOCH, by default the last commit's time), permissions and no extra fields.
#
# Options: --out DIR (default dist), --build DIR (the release build tree, removed and built
# afresh; default build/release), --no-bootstrap (take the installed tools as they are).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

out=dist build=build/release bootstrap=1
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=$2; shift ;;
    --build) build=$2; shift ;;
    --no-bootstrap) bootstrap=0 ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    *) echo "package: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done

say() { echo "package: $*"; }

# Whether these sources are a git checkout of their own (not a copy inside another one).
checkout() {
  [ "$(git -C "$root" rev-parse --show-toplevel 2>/dev/null)" = "$root" ]
}

# The time every file in the zip carries: what the caller fixed, else the commit's.
source_date() {
  if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    echo "$SOURCE_DATE_EPOCH"
  elif checkout; then
    git -C "$root" log -1 --format=%ct
  else
    echo "package: not a git checkout; set SOURCE_DATE_EPOCH to the sources' time" >&2
    return 1
  fi
}

build_module() {
  say "building Vandrel.scr in $build"
  rm -rf "$build"
  cmake --preset release -B "$build" >/dev/null
  cmake --build "$build" --target Vandrel -j "$(nproc)" >/dev/null
}

project_version() {
  sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt"
}

# Windows 95's Notepad shows only CR LF lines as lines.
write_readme() {
  sed -e "s/@VERSION@/$1/" -e 's/$/\r/' "$root/resources/README.txt" >"$2/README.txt"
}

# The setup information file that installs the module, filled in like README.txt: the version,
# and the module's size in KB, rounded up, for the list of installed programs.
write_inf() {
  local kb=$((($(stat -c %s "$2/Vandrel.scr") + 1023) / 1024))
  sed -e "s/@VERSION@/$1/g" -e "s/@SIZE_KB@/$kb/g" -e 's/$/\r/' \
    "$root/resources/Vandrel.inf.in" >"$2/Vandrel.inf"
}

# Entries in byte order, each with the same time and permissions; -X leaves out the owner and
# the extra time fields, -D the folder entries. zip writes local times, hence UTC.
make_zip() {
  local stage=$1 zip=$2 epoch=$3 names
  chmod 644 "$stage"/*
  TZ=UTC touch -d "@$epoch" "$stage"/*
  names=$(cd "$stage" && LC_ALL=C ls)
  rm -f "$zip"
  # shellcheck disable=SC2086
  (cd "$stage" && TZ=UTC zip -q -X -D -9 "$zip" $names)
}

[ $bootstrap = 0 ] || bash scripts/bootstrap.sh
epoch=$(source_date)
if checkout && [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
  say "note: the working tree differs from commit $(git -C "$root" rev-parse --short HEAD)"
fi

build_module
version=$(project_version)
[ -n "$version" ] || { say "no project version in $build/CMakeCache.txt"; exit 1; }

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$build/Vandrel.scr" "$stage/Vandrel.scr"
write_readme "$version" "$stage"
write_inf "$version" "$stage"
(cd "$stage" && sha256sum Vandrel.scr Vandrel.inf README.txt >SHA256SUMS)

name="Vandrel-$version.zip"
make_zip "$stage" "$out/$name" "$epoch"
(cd "$out" && sha256sum "$name" >"$name.sha256")
say "wrote $out/$name ($(stat -c %s "$out/$name") bytes)"
cat "$out/$name.sha256"
