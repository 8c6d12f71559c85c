#!/usr/bin/env bash
# Cross-builds the driver for the board (aarch64) and runs the test suite
# under qemu-user. Debian 12, as root; installs the multiarch packages.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-arm64}
bash tools/setup-deps.sh crossbuild-essential-arm64 qtbase5-dev:arm64 libqt5serialport5-dev:arm64 libsystemd-dev:arm64 \
  pkgconf:arm64 qemu-user-static
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DZMA_WERROR=ON
cmake --build "$build" -j2
# The whole suite runs through the emulator: CTest starts each test program
# under it, and the tests start the driver, the simulator and replay-session
# under it too (ZMA_TEST_EMULATOR), with time bounds stretched for it.
ctest --test-dir "$build" -j2 --output-on-failure
