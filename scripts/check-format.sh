#!/usr/bin/env bash
# Fails when a C++ file of the project is not as clang-format would write it.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files -co --exclude-standard '*.cpp' '*.h' | grep -v '^build/')
# shellcheck disable=SC2086
clang-format --dry-run -Werror $files
echo "clang-format: $(echo "$files" | wc -l) files checked"
