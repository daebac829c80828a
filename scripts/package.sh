#!/usr/bin/env bash
# Makes the Debian package: installs what is missing (also dpkg-dev and file,
# which CPack needs to work out the package's library dependencies), builds
# the program without tests and benchmarks, runs CPack and prints the path of
# the .deb. Usage: scripts/package.sh [BUILD_DIR]   (default: build-deb)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-deb}
export DORVASU_EXTRA_PACKAGES="dpkg-dev file ${DORVASU_EXTRA_PACKAGES:-}"
scripts/setup.sh "$dir" -DCMAKE_BUILD_TYPE=Release -DDORVASU_TESTS=OFF -DDORVASU_BENCH=OFF
rm -f "$dir"/dorvasu_*.deb
deb=$(cd "$dir" && cpack -G DEB | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p')
[ -f "$deb" ] || { echo "cpack made no package" >&2; exit 1; }
echo "$deb"
