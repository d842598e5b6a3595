#!/bin/sh
# Builds the system and runs qvServer with one simulated LQ3 instrument.
# Extra arguments go to qvServer (try ./run.sh -h).
set -e
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh build
export QV_INSTRUMENT_DIR="${QV_INSTRUMENT_DIR:-${TMPDIR:-/tmp}/lq3-instruments}"
mkdir -p "$QV_INSTRUMENT_DIR"
SIM=""
if [ -x build/sim/lq3sim ]; then
  build/sim/lq3sim --serial 1234 &
  SIM=$!
  trap 'kill $SIM 2>/dev/null || true' EXIT INT TERM
fi
build/src/server/qvServer "$@"
