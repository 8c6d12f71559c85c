#!/usr/bin/env bash
# netns-exec.sh NAME PROGRAM [ARGS...]: runs PROGRAM in a private network
# namespace with its loopback up, so the driver's fixed UDP ports (20002-20004)
# cannot clash with a driver or a test on this machine. Without root it warns
# and runs on this machine's loopback. NAME prefixes the messages.
set -euo pipefail
name=$1
prog=$2
shift 2
if [ ! -x "$prog" ]; then
  echo "$name: no $prog; build first: cmake --build BUILD_DIR --target $(basename "$prog")" >&2
  exit 1
fi
if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
  exec unshare -n sh -c 'ip link set lo up && exec "$0" "$@"' "$prog" "$@"
fi
echo "$name: WARNING: no private network namespace (needs root and unshare);" \
  "running on this machine's loopback: UDP 20002-20004 must be free" >&2
exec "$prog" "$@"
