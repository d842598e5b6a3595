#!/bin/sh
# Configures and builds one tree: scripts/build.sh <build-dir> [extra cmake args]
set -e
dir="$1"; shift
cmake -S "$(dirname "$0")/.." -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
