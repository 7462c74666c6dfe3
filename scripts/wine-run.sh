#!/usr/bin/env bash
# Test emulator: wine-run.sh BUILD_DIR PROGRAM [ARGS...] runs a Windows program under Wine in
# the build tree's prefix and display, and exits with the program's exit code.
set -euo pipefail
here=$(dirname "$(readlink -f "$0")")
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"
build=$1
shift
wine_env_skip_without_wine32
wine_env_prepare "$build"
# 64-bit programs start natively; a 32-bit one that they start goes through the 32-bit loader.
exec "$(wine_env_loader)" "$@"
