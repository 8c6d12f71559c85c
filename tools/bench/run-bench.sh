#!/usr/bin/env bash
# Runs zma-bench in a private network namespace: the driver sends to UDP
# 20002 and binds 20003, the floors of the reference program send to 20012
# and 20013, fixed ports that must not clash with a driver or a test running
# on this machine. As root the load runs may use SCHED_FIFO.
set -euo pipefail

usage() {
  cat <<USAGE
usage: $0 [BUILD_DIR] [--seconds S] [zma-bench options...]
  BUILD_DIR   the CMake build directory (default ./build); no tests needed:
              cmake --build BUILD_DIR --target zma-bench
  options     --seconds S --warmup S --dials N --opens N --only driver|ref
              --idle-only --pid-report --strict --dump DIR
              --load --no-load --load-only --load-seconds S --busy-per-core N
              --latency --latency-only --patterns L --latency-scale F
              (zma-bench --help)
USAGE
}

# A first argument that is no option names the build directory.
build=./build
if [ $# -gt 0 ] && [ -d "$1" ]; then
  build=$1; shift
elif [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
  echo "run-bench: no build directory $1" >&2; exit 1
fi
if [ "${1:-}" = -h ] || [ "${1:-}" = --help ]; then
  usage; exit 0
fi
exec bash "$(dirname "$0")/../netns-exec.sh" run-bench "$build/tools/bench/zma-bench" "$@"
