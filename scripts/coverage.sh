#!/usr/bin/env bash
# Line coverage of src/ by the whole test suite: builds with --coverage in
# build-cov/, runs every test, and prints the figure (lcov, from Debian).
# Usage: scripts/coverage.sh
set -euo pipefail
cd "$(dirname "$0")/.."
export DORVASU_EXTRA_PACKAGES="lcov exfat-fuse exfatprogs ntfs-3g desktop-file-utils strace ${DORVASU_EXTRA_PACKAGES:-}"
scripts/setup.sh build-cov -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="--coverage -O0" \
  -DCMAKE_EXE_LINKER_FLAGS="--coverage"
find build-cov -name '*.gcda' -delete
# test_faults makes a child's writes fail on purpose, and with them the
# child's own writes of its coverage data at exit, which then hangs: it is
# left out, and what only it reaches counts as not covered.
QT_QPA_PLATFORM=offscreen ctest --test-dir build-cov -E test_faults --output-on-failure || true
lcov --quiet --capture --directory build-cov --output-file build-cov/all.info --ignore-errors gcov,source
lcov --quiet --extract build-cov/all.info "$PWD/src/*" --output-file build-cov/src.info
lcov --summary build-cov/src.info 2>&1 | grep -E "lines|functions"
