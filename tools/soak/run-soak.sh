#!/usr/bin/env bash
# Runs zma-soak in a private network namespace: the driver binds UDP 20003
# and the soak listens on 20002 and 20004, which must not clash with a driver
# or a test running on this machine.
set -euo pipefail

usage() {
  cat <<USAGE
usage: $0 [BUILD_DIR] [--minutes M] [--seed N] [--verbose]
  BUILD_DIR   the CMake build directory (default ./build)
  --minutes   how long the driver runs under faults (default 10)
  --seed      seed of the fault and call choices (default random, printed)
  --verbose   print each fault as it comes
USAGE
}

# A first argument that is not an option must be the build directory.
build=./build
if [ $# -gt 0 ] && { [ -d "$1" ] || [ "${1#-}" = "$1" ]; }; then
  [ -d "$1" ] || { echo "run-soak: no build directory $1" >&2; exit 1; }
  build=$1; shift
fi
case "${1:-}" in
  -h|--help) usage; exit 0 ;;
esac
exec bash "$(dirname "$0")/../netns-exec.sh" run-soak "$build/tools/soak/zma-soak" "$@"
