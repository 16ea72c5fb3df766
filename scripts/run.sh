#!/usr/bin/env bash
# Sets everything up, then starts the Kestrune window.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$here/scripts/setup.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "kestrune: there is no display to show the window on; from a terminal, use $here/build/bin/kestrune-cli (try --help)." >&2
  exit 1
fi
exec "$here/build/bin/kestrune" "$@"
