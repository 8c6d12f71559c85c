#!/usr/bin/env bash
# Builds the tree with clang under a sanitizer and runs the whole suite.
#   tools/check-sanitizers.sh [address|thread]...   (default: both)
# address: AddressSanitizer with UndefinedBehaviorSanitizer, in build-asan;
# thread: ThreadSanitizer, in build-tsan. Any report from any process a test
# starts fails the run (see tests/CMakeLists.txt). Debian 12, as root.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -gt 0 ] || set -- address thread
bash tools/setup-deps.sh cmake make qtbase5-dev libqt5serialport5-dev libsystemd-dev clang libclang-rt-14-dev llvm
for san in "$@"; do
  case "$san" in
    address) build=build-asan ;;
    thread) build=build-tsan ;;
    *) echo "check-sanitizers: unknown sanitizer $san (address or thread)" >&2; exit 2 ;;
  esac
  echo "== $san: $build"
  CC=clang CXX=clang++ cmake -S . -B "$build" -DZMA_SANITIZE="$san" -DZMA_WERROR=ON
  cmake --build "$build" -j2
  ctest --test-dir "$build" -j2 --output-on-failure
done
