#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (in build-fuzz/) and runs each one
# for SECONDS (default 60), starting from its committed seeds in
# fuzz/corpus/<target>/. Inputs found on the way collect in
# build-fuzz/corpus/<target>/, a crashing input in build-fuzz/crashes/.
# Exits non-zero when any target crashed, leaked, hung or ran out of memory.
#
# Usage: fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
dir=${DORVASU_FUZZ_BUILD:-build-fuzz}

export DORVASU_EXTRA_PACKAGES="clang-14 libclang-rt-14-dev ${DORVASU_EXTRA_PACKAGES:-}"
scripts/setup.sh "$dir" -DCMAKE_CXX_COMPILER=clang++-14 -DDORVASU_FUZZ=ON \
  -DDORVASU_TESTS=OFF -DDORVASU_BENCH=OFF

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:suppressions=$PWD/tests/ubsan.supp

failed=()
for target in fuzz_settings fuzz_taginfo fuzz_binding; do
  seeds=fuzz/corpus/${target#fuzz_}
  work=$dir/corpus/${target#fuzz_}
  crashes=$dir/crashes/${target#fuzz_}/
  mkdir -p "$work" "$crashes"
  echo "== $target: $seconds s"
  if ! "$dir/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
      -max_len=16384 -print_final_stats=1 -artifact_prefix="$crashes" \
      "$work" "$seeds" 2>"$dir/$target.log"; then
    failed+=("$target")
    tail -n 60 "$dir/$target.log"
  fi
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^#[0-9]+ *DONE' "$dir/$target.log" || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs in $dir/crashes/)"
  exit 1
fi
echo "fuzzing: no faults"
