#!/bin/sh
# Installs the Debian packages needed to build and test the LQ3 host software,
# but only those that are missing, so a prepared machine is left alone.
set -e
PKGS="g++ cmake make ninja-build pkg-config flex bison clang libclang-rt-14-dev
libboost-log-dev libboost-thread-dev libboost-program-options-dev
libboost-filesystem-dev libboost-date-time-dev libboost-system-dev
libgtest-dev libgmock-dev libbenchmark-dev netcat-openbsd python3"
missing=""
for p in $PKGS; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing:$missing"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
