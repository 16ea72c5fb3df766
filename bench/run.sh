#!/usr/bin/env bash
# Builds Kestrune (with the README's set-up), installs the codec tools it is compared with, and
# runs the benchmark. Arguments go to run_bench.py (--help lists them).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$here/scripts/setup.sh"
missing=()
for pkg in $(grep -v -E '^\s*(#|$)' "$here/bench/deps.txt"); do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
exec python3 "$here/bench/run_bench.py" "$@"
