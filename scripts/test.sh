#!/usr/bin/env bash
# Sets everything up, checks the code's format, builds (warnings are errors), and runs the whole
# test suite; exits non-zero on any failure.
#   scripts/test.sh              the suite, built into build/
#   scripts/test.sh --sanitize   then also the suite built with AddressSanitizer and
#                                UndefinedBehaviorSanitizer into build-asan/ (as .ci/run asks);
#                                KESTRUNE_SANITIZE=1 asks the same
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sanitize=${KESTRUNE_SANITIZE:-0}
for arg in "$@"; do
  case $arg in
    --sanitize) sanitize=1 ;;
    *) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done
jobs=${KESTRUNE_JOBS:-$(nproc 2>/dev/null || echo 2)}

# The format first, so a misformatted file fails before anything is built (after set-up only
# when clang-format still has to be installed).
formatted=0
if command -v clang-format >/dev/null; then "$here/scripts/check-format.sh"; formatted=1; fi
"$here/scripts/setup.sh" ci
[ "$formatted" = 1 ] || "$here/scripts/check-format.sh"
# Tests never see the user's settings or home.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data"
export XDG_RUNTIME_DIR="$scratch/run" QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

status=0
(cd "$here/build" && ctest --output-on-failure -j"$jobs") || status=1
[ "$sanitize" = 1 ] || exit $status

# The sanitizer suite: every test, and every program a test starts, but the install and package
# checks (they check what is packed, and an instrumented build is not what is shipped).
echo "== Sanitizer suite (build-asan)"
start=$SECONDS
(cd "$here" && cmake --preset sanitize >/dev/null)
cmake --build "$here/build-asan" -j"$jobs" --target kestrune_sanitizer_suite
echo "== Sanitizer build: $((SECONDS - start)) s"
start=$SECONDS
# A finding ends the program with an error. Leaks of the libraries below the program (Qt's
# and fontconfig's caches at exit) are named in tests/lsan.supp; the pause shim of the kill
# tests is preloaded before the sanitizer's runtime, which it need not be after.
# (No strict_string_checks: it takes strndup's buffer for a C string, and the X keyboard
# library that the window's end-to-end test loads hands strndup buffers without an end.)
export ASAN_OPTIONS="detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp:print_suppressions=0"
(cd "$here/build-asan" && ctest --output-on-failure -j"$jobs" -LE package) || status=1
echo "== Sanitizer tests: $((SECONDS - start)) s"
exit $status
