#!/usr/bin/env bash
# Installs what is missing, builds Dorvasu and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh build
exec build/src/gui/app/dorvasu "$@"
