#!/bin/sh
# One clang build with AddressSanitizer and UndefinedBehaviorSanitizer serves
# both the whole test suite and the libFuzzer harnesses, which then run for a
# fixed time each.
set -e
cd "$(dirname "$0")/.."
FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
CC=clang CXX=clang++ scripts/build.sh build-asan -DQV_SANITIZE=address -DQV_FUZZ=ON -DQV_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$(nproc)" -LE nosan)
for f in build-asan/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  echo "Fuzzing $name for ${FUZZ_SECONDS}s"
  mkdir -p "build-asan/corpus/$name"
  # New inputs go to the first folder; the checked-in seeds start the run.
  seeds=""
  [ -d "fuzz/corpus/$name" ] && seeds="fuzz/corpus/$name"
  "$f" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 "build-asan/corpus/$name" $seeds
done
