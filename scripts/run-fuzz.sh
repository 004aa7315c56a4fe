#!/usr/bin/env bash
# Builds the fuzz targets (tests/fuzz/*_fuzz.cpp) with clang and runs each for a while from its
# seeds in tests/fuzz/corpus/NAME/, printing one line per target. What a run finds new goes to a
# throw-away folder; the seeds in the tree are only read.
#
#   scripts/run-fuzz.sh            # about a minute per target (FUZZ_SECONDS, default 60)
#   FUZZ_SECONDS=3600 scripts/run-fuzz.sh ini_reader   # one target, an hour
#
# Exit status 0 when no target found anything; a finding is kept as build-fuzz/crash-* and the
# target's output is shown.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-60}
build="$top/build-fuzz"
jobs=$(nproc 2>/dev/null || echo 2)

CC=clang CXX=clang++ cmake -S "$top/tests/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" >/dev/null

work=$(mktemp -d /tmp/tarvo-fuzz-XXXXXX)
trap 'rm -rf "$work"' EXIT

wanted=("$@")
failed=0
for source in "$top"/tests/fuzz/*_fuzz.cpp; do
  target=$(basename "$source" .cpp)
  name=${target%_fuzz}
  if [ ${#wanted[@]} -gt 0 ] && [[ ! " ${wanted[*]} " == *" $name "* ]]; then
    continue
  fi
  seeds="$top/tests/fuzz/corpus/$name"
  mkdir -p "$work/$name"
  log="$work/$name.log"
  if (cd "$build" && ./"$target" -max_total_time="$seconds" -print_final_stats=1 \
        "$work/$name" $( [ -d "$seeds" ] && echo "$seeds" ) >"$log" 2>&1); then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz $name: ${runs:-?} runs in ${seconds} s, nothing found"
  else
    echo "fuzz $name: FOUND A FAULT (input kept in $build)"
    tail -n 60 "$log"
    failed=1
  fi
done
exit $failed
