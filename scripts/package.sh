#!/usr/bin/env bash
# Builds Kestrune and makes its Debian package, build/kestrune_4.0_<arch>.deb. Install it with
#   sudo apt-get install ./build/kestrune_4.0_amd64.deb
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$here/scripts/setup.sh"
cd "$here/build"
rm -f kestrune_*.deb
cpack -G DEB
deb=$(ls kestrune_*.deb)
echo
echo "Package: $here/build/$deb ($(stat -c %s "$deb") bytes)"
dpkg-deb -f "$deb" Installed-Size Depends
