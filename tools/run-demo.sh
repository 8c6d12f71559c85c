#!/usr/bin/env bash
# Runs zma-driver against the simulated shield on this machine: the driver in
# the foreground on your terminal, shield-sim in the background with a FIFO
# for its commands and a log file for what it sees and sends.
set -euo pipefail

# zma-driver-demo, which the zma-driver-sim package installs, is this script
# with sim_libdir set when it is built: the programs are then beside it and
# the stand-in board library in that private directory (relative to them).
sim_libdir=
prog=run-demo
[ -z "$sim_libdir" ] || prog=zma-driver-demo

usage() {
  if [ -n "$sim_libdir" ]; then
    echo "usage: $prog [--ic N] [-- DRIVER_ARGS...]"
  else
    echo "usage: $0 [BUILD_DIR] [--ic N] [-- DRIVER_ARGS...]"
    echo "  BUILD_DIR   the CMake build directory (default ./build)"
  fi
  cat <<EOF
  --ic N      intercom code for the driver, passed as -ic N (default 102)
  -- ARGS     further arguments for zma-driver, passed on as they are
EOF
}

build=./build
build_given=0
ic=102
driver_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) usage; exit 0 ;;
    --ic)
      [ $# -ge 2 ] || { usage >&2; exit 2; }
      ic=$2; shift 2 ;;
    --ic=*) ic=${1#--ic=}; shift ;;
    --) shift; driver_args=("$@"); break ;;
    -*) echo "$prog: unknown option $1" >&2; usage >&2; exit 2 ;;
    *)
      { [ "$build_given" = 0 ] && [ -z "$sim_libdir" ]; } || { usage >&2; exit 2; }
      build=$1; build_given=1; shift ;;
  esac
done

board_env=()
if [ -n "$sim_libdir" ]; then
  here=$(dirname "$(readlink -f "$0")")
  sim=$here/shield-sim
  driver=$here/zma-driver
  # Only the driver is started with it: the vendor's library, if this
  # machine has one, is never shadowed for anything else.
  board_env=("LD_LIBRARY_PATH=$here/$sim_libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}")
  if [ ! -e "$here/$sim_libdir/libzq-board-korvel-2023.so.1" ]; then
    echo "$prog: no stand-in board library in $here/$sim_libdir" >&2
    exit 1
  fi
  hint="install zma-driver and zma-driver-sim"
else
  sim=$build/tools/shield-sim
  driver=$build/zma-driver
  hint="build first: cmake --build $build --target zma-driver shield-sim"
fi
for exe in "$sim" "$driver"; do
  if [ ! -x "$exe" ]; then
    echo "$prog: no $exe; $hint" >&2
    exit 1
  fi
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zma-demo.XXXXXX")
mkfifo "$tmp/sim.in"
# Held open read-write for the whole demo: the simulator never sees the end
# of its input, and "echo ... > sim.in" from elsewhere never blocks.
exec {sim_in}<>"$tmp/sim.in"

sim_pid=
driver_pid=
# shellcheck disable=SC2317  # run from the EXIT trap
cleanup() {
  if [ -n "$driver_pid" ]; then
    kill -TERM "$driver_pid" 2>/dev/null || true
    wait "$driver_pid" 2>/dev/null || true
  fi
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  exec {sim_in}>&- || true
  rm -f "$tmp/sim.in"
  echo "$prog: log and recording kept in $tmp (remove with: rm -rf $tmp)" >&2
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

"$sim" --stay --die-with-parent --link "$tmp/ttyShield" --spi "$tmp/spi.sock" \
  --record "$tmp/line.wav" --auto-ring 12 --every 30 \
  <"$tmp/sim.in" >>"$tmp/sim.log" 2>&1 {sim_in}>&- &
sim_pid=$!

for _ in $(seq 100); do
  [ -L "$tmp/ttyShield" ] && [ -S "$tmp/spi.sock" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    sim_pid=
    echo "$prog: shield-sim did not start:" >&2
    cat "$tmp/sim.log" >&2
    exit 1
  fi
  sleep 0.1
done
if [ ! -L "$tmp/ttyShield" ]; then
  echo "$prog: shield-sim did not create $tmp/ttyShield" >&2
  exit 1
fi

cat >&2 <<EOF
---------------------------------------------------------------------------
zma-driver against a simulated shield (serial $tmp/ttyShield,
audio $tmp/spi.sock). Apartment 12 rings by itself every 30 s while idle;
a call nobody picks up ends after 20 s.
  Type driver commands here:   pickup   open 1   open 2   drop
  Ring by hand (other shell):  echo 'ring 12' > $tmp/sim.in
    more shield commands:      hangup, ring-gate P S, silent on|off, raw HEX
  What the shield sees/sends:  tail -f $tmp/sim.log
  Audio from the driver goes to $tmp/line.wav
  Ctrl-D or Ctrl-C ends the demo.
---------------------------------------------------------------------------
EOF

# Started asynchronously with the terminal as its input, so that a signal to
# this script is handled at once (bash runs traps only between commands) and
# the trap can stop the driver too. Ctrl-C reaches this script, which ends it.
env "${board_env[@]}" ZQ_BOARD_SERIAL="$tmp/ttyShield" ZQ_BOARD_SPI="$tmp/spi.sock" \
  "$driver" -ic "$ic" "${driver_args[@]}" <&0 {sim_in}>&- &
driver_pid=$!
rc=0
wait "$driver_pid" || rc=$?
driver_pid=
exit "$rc"
