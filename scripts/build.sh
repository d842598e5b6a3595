#!/bin/sh
# Configures and builds one tree: scripts/build.sh <build-dir> [extra cmake args]
# Line tables (-g1) keep stack traces readable at a fraction of the build time
# of full debug information.
set -e
dir="$1"; shift
cmake -S "$(dirname "$0")/.." -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
