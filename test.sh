#!/bin/sh
# Builds everything and runs the whole test suite.
set -e
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh build
cd build && ctest --output-on-failure -j "$(nproc)" "$@"
