#!/usr/bin/env bash
# Runs the libFuzzer targets of tests/fuzz one after another, each on a copy
# of its seed corpus (the tree's corpus stays small), and prints one line per
# target. Exit status: non-zero if any target crashed, leaked, timed out or
# failed a property. Logs and failing inputs stay in BUILD_DIR/fuzz-runs/.
set -euo pipefail

usage() {
  cat <<USAGE
usage: $0 [BUILD_DIR] [--seconds S] [TARGET | all] [-- LIBFUZZER_ARGS...]
  BUILD_DIR   a build configured with -DZMA_FUZZ=ON (default ./build-fuzz;
              configured with clang and built when it has no fuzz targets)
  --seconds S how long each target runs (default 60)
  TARGET      fuzz_serial fuzz_console fuzz_udp_audio, or all (default)
  -- ARGS     further libFuzzer options, passed on as they are
USAGE
}

root=$(cd "$(dirname "$0")/.." && pwd)
all_targets=(fuzz_serial fuzz_console fuzz_udp_audio)
build=./build-fuzz
seconds=60
targets=()
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) usage; exit 0 ;;
    --seconds)
      [ $# -ge 2 ] || { usage >&2; exit 2; }
      seconds=$2; shift 2 ;;
    --seconds=*) seconds=${1#--seconds=}; shift ;;
    --) shift; extra=("$@"); break ;;
    all) targets=("${all_targets[@]}"); shift ;;
    fuzz_*) targets+=("$1"); shift ;;
    -*) echo "run-fuzz: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
case "$seconds" in
  ''|*[!0-9]*) echo "run-fuzz: --seconds needs a whole number" >&2; exit 2 ;;
esac
for t in "${targets[@]}"; do
  [ -d "$root/tests/fuzz/corpus/$t" ] || { echo "run-fuzz: unknown target $t" >&2; exit 2; }
done

missing=()
for t in "${targets[@]}"; do
  [ -x "$build/tests/fuzz/$t" ] || missing+=("$t")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DZMA_FUZZ=ON -DBUILD_TESTING=OFF
  fi
  cmake --build "$build" -j2 --target "${missing[@]}"
fi

# fuzz_serial builds the whole driver, whose audio intake binds the fixed
# port 20003: a private loopback keeps it off a driver or test nearby.
netns=()
if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
  netns=(unshare -n sh -c 'ip link set lo up && exec "$@"' sh)
else
  echo "run-fuzz: WARNING: no private network namespace (needs root); fuzz_serial binds 127.0.0.1:20003 while it runs" >&2
fi

out=$(cd "$build" && pwd)/fuzz-runs
mkdir -p "$out"
work=$(mktemp -d /tmp/zma-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT

# What went wrong, from a libFuzzer log; nothing when nothing did.
classify() {
  local log=$1 text
  text=$(cat "$log")
  if grep -q 'property failed' <<<"$text"; then
    grep -m1 -o 'property failed: .*' <<<"$text"
  elif grep -q 'ERROR: LeakSanitizer' <<<"$text"; then
    echo "leak"
  elif grep -q 'ERROR: libFuzzer: timeout' <<<"$text"; then
    echo "timeout"
  elif grep -q 'ERROR: libFuzzer: out-of-memory' <<<"$text"; then
    echo "out of memory"
  elif grep -q 'runtime error:' <<<"$text"; then
    grep -m1 -o 'runtime error: .*' <<<"$text"
  elif grep -q 'ERROR: AddressSanitizer' <<<"$text"; then
    grep -m1 -o 'ERROR: AddressSanitizer: [^ ]*' <<<"$text"
  fi
}

failed=0
for t in "${targets[@]}"; do
  exe=$(cd "$build/tests/fuzz" && pwd)/$t
  log=$out/$t.log
  artifacts=$out/$t-artifacts/
  rm -rf "$artifacts"
  mkdir -p "$work/$t" "$artifacts"
  cp "$root/tests/fuzz/corpus/$t/"* "$work/$t/"
  seeds=$(ls "$work/$t" | wc -l)
  rc=0
  start=$SECONDS
  "${netns[@]}" "$exe" "$work/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts" "${extra[@]}" >"$log" 2>&1 || rc=$?

  # Plain runs end with libFuzzer's final stats; -fork=N runs print a
  # status line per job instead.
  last=$(grep -E '^#[0-9]+:?[[:space:]]' "$log" | tail -n 1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\) ft: \([0-9]*\).*/cov \1 ft \2/p' <<<"$last")
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  [ -n "$runs" ] || runs=$(sed -n 's/^#\([0-9]*\):.*/\1/p' <<<"$last")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  if [ -z "$rate" ]; then
    elapsed=$(sed -n 's/.* time: \([0-9]*\)s.*/\1/p' <<<"$last")
    [ -z "$runs" ] || [ "${elapsed:-0}" = 0 ] || rate=$((runs / elapsed))
  fi
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
  corpus=$(ls "$work/$t" | wc -l)
  figures="${runs:-?} runs, ${rate:-?}/s, ${cov:-no coverage line}, corpus $seeds -> $corpus, peak rss ${rss:-?} MB"

  why=$(classify "$log")
  input=$(ls "$artifacts" | head -n 1)
  if [ -n "$input" ]; then
    input=$artifacts$input
    # A -fork run keeps the inner logs to itself and may save several
    # inputs: each tells again what it does (the first 20).
    if grep -q 'oom/timeout/crash' "$log"; then
      why=$(for f in $(ls "$artifacts" | head -n 20); do
              classify <("${netns[@]}" "$exe" -timeout=10 -rss_limit_mb=2048 "$artifacts$f" 2>&1 || true)
            done | sort | uniq -c | sed 's/^ *\([0-9]*\) \(.*\)/\2 [\1]/' | paste -sd '|' -)
    fi
    [ -n "$why" ] || why="crash"
    why="$why ($(ls "$artifacts" | wc -l) failing inputs saved)"
  fi
  if [ -z "$why" ] && grep -q 'ERROR: libFuzzer' "$log"; then
    why=$(grep -m1 -o 'ERROR: libFuzzer: .*' "$log")
  fi
  if [ -z "$why" ] && grep -q 'disabled leak detection' "$log"; then
    # Each input keeps memory: leaks would go unseen from then on.
    why="leak detection switched off, inputs keep memory"
  fi
  [ -n "$why" ] || [ "$rc" = 0 ] || why="exit status $rc"
  if [ -n "$why" ]; then
    failed=1
    echo "$t: FAIL after $((SECONDS - start)) s: $why; $figures; input ${input:-none}; log $log"
  else
    echo "$t: PASS ${seconds} s: $figures"
  fi
done
exit $failed
