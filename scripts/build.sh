#!/usr/bin/env bash
# Builds build/win32/Vandrel.scr, installing the toolchain first if it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target Vandrel
echo "built $(pwd)/build/win32/Vandrel.scr"
