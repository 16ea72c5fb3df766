#!/usr/bin/env bash
# Installs what is missing (Debian packages, as root) and builds Kestrune into build/.
#   scripts/setup.sh          the release preset (what scripts/run.sh starts)
#   scripts/setup.sh ci       the same build with warnings as errors (what scripts/test.sh runs)
# (CMakePresets.json lists the presets; `cmake --list-presets` shows them.)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
preset=${1:-release}

mapfile -t wanted < <(grep -v -E '^\s*(#|$)' scripts/deps.txt)
missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi

jobs=${KESTRUNE_JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$jobs"
