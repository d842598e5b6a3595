#!/bin/sh
# Builds the programs, libraries and benchmarks with clang's -Wthread-safety
# analysis, warnings as errors: the lock annotations (QV_GUARDED_BY,
# QV_REQUIRES, ...) are checked, not only read. Compiling is the check; nothing
# runs, so the code is built unoptimised, without debug information and
# without the tests (which the build would not check).
set -e
cd "$(dirname "$0")/.."
CC=clang CXX=clang++ cmake -S . -B build-tsa -G Ninja -DQV_THREAD_SAFETY=ON -DQV_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O0" -DCMAKE_C_FLAGS_DEBUG="-O0" >/dev/null
cmake --build build-tsa -j "$(nproc)"
