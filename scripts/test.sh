#!/usr/bin/env bash
# The whole test suite on a fresh Debian 12 machine: installs what is missing, builds the
# 32-bit module, the 64-bit Windows tests, the native portable tests and the fuzz targets, and
# runs CTest on each test build.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
jobs=$(nproc)
for preset in win32 win64 native fuzz; do
  echo "== configure and build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

status=0
for preset in native fuzz win64; do
  echo "== tests: $preset"
  ctest --preset "$preset" -j "$jobs" || status=1
done
exit $status
