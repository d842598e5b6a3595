#!/bin/sh
# Builds the libFuzzer harnesses with clang and runs each for a fixed time.
set -e
cd "$(dirname "$0")/.."
FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
CC=clang CXX=clang++ scripts/build.sh build-fuzz -DQV_FUZZ=ON -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF
for f in build-fuzz/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  echo "Fuzzing $f for ${FUZZ_SECONDS}s"
  mkdir -p "build-fuzz/corpus/$(basename "$f")"
  "$f" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 "build-fuzz/corpus/$(basename "$f")"
done
