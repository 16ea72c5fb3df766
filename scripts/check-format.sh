#!/usr/bin/env bash
# Checks every C and C++ file of the tree against .clang-format; prints the files that differ
# and exits 1 when any does. scripts/check-format.sh --fix formats them in place instead.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
tool=${CLANG_FORMAT:-clang-format}
if ! command -v "$tool" >/dev/null; then
  echo "check-format: $tool is not installed (Debian package clang-format)" >&2
  exit 2
fi
mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.c' '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  "$tool" -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  if ! "$tool" --dry-run --Werror "$f" >/dev/null 2>&1; then
    bad+=("$f")
  fi
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "check-format: these files differ from .clang-format (scripts/check-format.sh --fix):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files follow .clang-format"
