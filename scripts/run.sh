#!/usr/bin/env bash
# Sets everything up, then starts Kestrune with the arguments given.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$here/scripts/setup.sh"
if [ -x "$here/build/bin/kestrune" ]; then
  exec "$here/build/bin/kestrune" "$@"
fi
exec "$here/build/bin/kestrune-cli" "$@"
