#!/usr/bin/env bash
# Installs what is missing, builds Dorvasu with its tests and runs every test.
# With DORVASU_SANITIZE=1 the build and the run use AddressSanitizer and
# UndefinedBehaviorSanitizer instead (in build-asan/). DORVASU_WERROR=1 makes
# every compiler warning an error; DORVASU_BUILD_TYPE=Debug builds with
# assertions on (in build-debug/, or build-asan-debug/).
set -euo pipefail
cd "$(dirname "$0")"
# The tests also rename files on exFAT and NTFS mounted through FUSE, and
# check the installed desktop entry with desktop-file-validate; strace kills
# a tag write on each of its system calls.
export DORVASU_EXTRA_PACKAGES="exfat-fuse exfatprogs ntfs-3g desktop-file-utils strace ${DORVASU_EXTRA_PACKAGES:-}"
type=${DORVASU_BUILD_TYPE:-RelWithDebInfo}
werror=OFF
[ "${DORVASU_WERROR:-0}" = 1 ] && werror=ON
suffix=""
[ "$type" = RelWithDebInfo ] || suffix=-${type,,}
if [ "${DORVASU_SANITIZE:-0}" = 1 ]; then
  dir=build-asan$suffix
  scripts/setup.sh "$dir" -DDORVASU_SANITIZE=ON -DCMAKE_BUILD_TYPE="$type" -DDORVASU_WERROR=$werror
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:suppressions=$PWD/tests/ubsan.supp
else
  dir=build$suffix
  scripts/setup.sh "$dir" -DCMAKE_BUILD_TYPE="$type" -DDORVASU_WERROR=$werror
fi
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
