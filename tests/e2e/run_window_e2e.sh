#!/usr/bin/env bash
# Starts an X server and a session bus of their own, and drives the real program in them.
# Usage: run_window_e2e.sh BIN_DIR
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exec /usr/bin/python3 "$here/x_session.py" \
  dbus-run-session -- /usr/bin/python3 "$here/window_e2e.py" "$1"
