#!/usr/bin/env bash
# Cross-builds the driver for the board (aarch64) and runs the unit tests
# under qemu-user. Debian 12, as root; installs the multiarch packages.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-arm64}
packages=(crossbuild-essential-arm64 qtbase5-dev:arm64 libqt5serialport5-dev:arm64 pkgconf:arm64 qemu-user-static)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  dpkg --add-architecture arm64
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DZMA_WERROR=ON
cmake --build "$build" -j2
# Tests of the running process start the driver directly, which needs the
# board (or binfmt_misc); the unit tests run through the emulator.
ctest --test-dir "$build" -L unit -j2 --output-on-failure
