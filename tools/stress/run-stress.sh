#!/usr/bin/env bash
# Runs zma-stress in a private network namespace: the driver binds fixed UDP
# ports (20003, and the stress tool listens on 20002 and 20004), which must
# not clash with a driver or a test running on this machine.
set -euo pipefail

usage() {
  cat <<USAGE
usage: $0 [BUILD_DIR] [--seconds S] [--count N] SCENARIO... | all
  BUILD_DIR   the CMake build directory (default ./build)
  scenarios   line-flood junk-flood stdout-stall stderr-stall command-flood
USAGE
}

build=./build
if [ $# -gt 0 ] && [ -d "$1" ]; then
  build=$1; shift
elif [ $# -gt 0 ] && [ "${1#*/}" != "$1" ]; then
  echo "run-stress: no build directory $1" >&2; exit 1
fi
case "${1:-}" in
  -h|--help) usage; exit 0 ;;
  "") usage >&2; exit 2 ;;
esac

exec bash "$(dirname "$0")/../netns-exec.sh" run-stress "$build/tools/stress/zma-stress" "$@"
