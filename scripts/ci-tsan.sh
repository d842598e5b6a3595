#!/bin/sh
# Builds the threading tests (components, FIFOs, link, simulator, and the
# in-process server, session, dispatcher and stream tests) with
# ThreadSanitizer and runs those labelled "tsan".
set -e
cd "$(dirname "$0")/.."
cmake -S . -B build-tsan -G Ninja -DQV_SANITIZE=thread -DQV_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1" >/dev/null
cmake --build build-tsan -j "$(nproc)" --target tsan_tests
cd build-tsan
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(pwd)/../scripts/tsan.supp" ctest --output-on-failure -j "$(nproc)" -L tsan
