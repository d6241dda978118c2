#!/usr/bin/env bash
# Checks that every C and C++ file of the tree is laid out as .clang-format
# says; `scripts/check-format.sh --fix` rewrites the ones that are not.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c' | grep -v '^fuzz/corpus/')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "check-format: the files above are not laid out as .clang-format says (scripts/check-format.sh --fix)" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files laid out as .clang-format says"
