#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format makes of it (.clang-format).
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "Formatting differs: run  git ls-files '*.cpp' '*.h' | xargs clang-format -i" >&2
  exit 1
fi
echo "format: ${#files[@]} files as clang-format makes them"
