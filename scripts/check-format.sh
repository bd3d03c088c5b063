#!/usr/bin/env bash
# Fails when a C or C++ source or header of the repository is not as
# clang-format (.clang-format) writes it, and shows the difference.
#   scripts/check-format.sh          check
#   scripts/check-format.sh --fix    rewrite the files in place
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(git ls-files '*.c' '*.h' '*.cpp' '*.hpp')
[ "${#sources[@]}" -gt 0 ] || { echo "no sources found" >&2; exit 1; }
if [ "${1:-}" = --fix ]; then
  clang-format -i "${sources[@]}"
  exit
fi
clang-format --dry-run --Werror "${sources[@]}"
echo "format: ${#sources[@]} files as clang-format writes them"
