#!/bin/sh
# Regenerates the program's icon (dorvasu-64.png, dorvasu-256.png) in this
# folder from make-icon.cpp. Needs g++ and Qt 6's development files.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
g++ -std=c++17 -fPIC -o "$tmp/make-icon" make-icon.cpp $(pkg-config --cflags --libs Qt6Gui)
QT_QPA_PLATFORM=offscreen "$tmp/make-icon" 64 256
