#!/bin/sh
# Builds with ThreadSanitizer and runs the tests labelled "tsan".
set -e
cd "$(dirname "$0")/.."
scripts/build.sh build-tsan -DQV_SANITIZE=thread -DQV_BUILD_BENCH=OFF
cd build-tsan
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -j "$(nproc)" -L tsan
