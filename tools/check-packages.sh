#!/usr/bin/env bash
# Builds the Debian packages of a native build and of the arm64 cross build,
# checks them with lintian (no errors, no hardening tags) and hardening-check,
# installs the native ones into an empty root and runs the installed
# programs there: zma-driver-demo until the driver says "shield_ready", the
# shield-sim(1) example, zma-log and replay-session; checks the journal unit
# (shipped, valid, enabled by nothing) and that the arm64 driver package
# holds no board library. Prints its findings only, and leaves nothing
# behind. ARM64_BUILD "none" checks the native packages only.
# Usage: tools/check-packages.sh [NATIVE_BUILD] [ARM64_BUILD|none]   (as root)
set -euo pipefail
cd "$(dirname "$0")/.."
native=${1:-build}
arm64=${2:-build-arm64}
# systemd for systemd-analyze, which checks the unit.
bash tools/setup-deps.sh lintian devscripts systemd >/dev/null
say() { echo "check-packages: $*"; }
fail() { echo "check-packages: FAIL: $*" >&2; exit 1; }

builds=("$native")
[ "$arm64" = none ] || builds+=("$arm64")
for b in "${builds[@]}"; do
  [ -f "$b/CPackConfig.cmake" ] || fail "no $b/CPackConfig.cmake: configure and build $b first"
  rm -f "$b"/zma-driver*.deb
  (cd "$b" && cpack -G DEB >/dev/null) || fail "cpack in $b"
done
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$native/CPackConfig.cmake")-1
native_arch=$(dpkg --print-architecture)
debs=("$native/zma-driver_${version}_${native_arch}.deb" "$native/zma-driver-sim_${version}_${native_arch}.deb")
[ "$arm64" = none ] || debs+=("$arm64/zma-driver_${version}_arm64.deb" "$arm64/zma-driver-sim_${version}_arm64.deb")
for d in "${debs[@]}"; do
  [ -f "$d" ] || fail "no $d"
done

x=$(mktemp -d)
trap 'rm -rf "$x"' EXIT

# lintian: no errors, no hardening tag even among the informational ones
# (warnings are shown). These packages are not uploaded to Debian, so no
# bug is closed by the first changelog entry. lintian keeps caches in
# TMPDIR: under $x, they go with the rest; as root it says so on stderr.
for d in "${debs[@]}"; do
  tags=$(TMPDIR=$x lintian --fail-on error --display-info --tag-display-limit 0 \
           --suppress-tags initial-upload-closes-no-bugs "$d" 2>"$x/lintian.err") \
    || { echo "$tags"; cat "$x/lintian.err"; fail "lintian reports errors on $d"; }
  ! grep -q hardening <<<"$tags" || { echo "$tags"; fail "lintian reports hardening tags on $d"; }
  grep -v '^I: ' <<<"$tags" || true
  grep -v 'running with root privileges' "$x/lintian.err" || true
done
say "lintian: no errors and no hardening tags on ${#debs[@]} packages"

# The arm64 driver: the vendor's library is needed, not shipped; no run path
# into a build tree; Depends names the Qt runtime packages and libsystemd.
if [ "$arm64" != none ]; then
arm_driver=${debs[2]}
if dpkg-deb --contents "$arm_driver" | grep -q 'libzq-board'; then
  fail "$arm_driver holds a board library"
fi
dpkg-deb -x "$arm_driver" "$x/arm"
dyn=$(readelf -d "$x/arm/usr/bin/zma-driver")
grep -q 'NEEDED.*\[libzq-board-korvel-2023.so.1\]' <<<"$dyn" || fail "arm64 zma-driver does not need the board library"
! grep -Eq 'RUNPATH|RPATH' <<<"$dyn" || fail "arm64 zma-driver has a run path: $(grep -E 'RUNPATH|RPATH' <<<"$dyn")"
depends=$(dpkg-deb -f "$arm_driver" Depends)
for p in libqt5core5a libqt5network5 libqt5serialport5 libsystemd0; do
  grep -q "$p" <<<"$depends" || fail "arm64 zma-driver Depends lacks $p: $depends"
done
say "arm64 zma-driver: no board library inside, NEEDED libzq-board-korvel-2023.so.1, no run path, Depends: $depends"
fi

# The native packages in an empty root, then the installed launcher.
root=$x/root
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
touch "$root/var/lib/dpkg/status"
# The root has no Qt of its own: the dependencies are this machine's.
dpkg --root="$root" --force-depends --force-script-chrootless -i "${debs[0]}" "${debs[1]}" >"$x/dpkg.log" 2>&1 \
  || { cat "$x/dpkg.log" >&2; fail "dpkg could not install into $root"; }
programs=(usr/bin/zma-driver usr/bin/zma-log usr/bin/shield-sim usr/bin/replay-session)
for p in "${programs[@]}"; do
  ! readelf -d "$root/$p" | grep -Eq 'RUNPATH|RPATH' || fail "installed $p has a run path"
  # Control-flow protection is left out: Debian 12's start files do not carry
  # its marking, so no program built here (dpkg's own neither) shows it.
  hardening-check --nocfprotection "$root/$p" >"$x/hardening" || { cat "$x/hardening" >&2; fail "hardening-check on $p"; }
done
say "installed programs: hardened (hardening-check), no run path"
for f in usr/share/doc/zma-driver/protocol.md usr/share/man/man1/zma-log.1.gz usr/share/man/man1/replay-session.1.gz; do
  [ -f "$root/$f" ] || fail "no $f in the packages"
done
"$root/usr/bin/zma-log" --help >/dev/null || fail "the installed zma-log --help"
"$root/usr/bin/replay-session" --help >/dev/null || fail "the installed replay-session --help"
say "installed zma-log and replay-session run; protocol.md and their man pages are there"

# The journal unit: in the driver package, valid, running the installed
# zma-log, and off: no maintainer script, no enabling link.
unit=lib/systemd/system/zma-log-journal.service
[ -f "$root/$unit" ] || fail "no /$unit in zma-driver"
grep -qx 'ExecStart=/usr/bin/zma-log --journal' "$root/$unit" || fail "/$unit does not run /usr/bin/zma-log --journal"
# The program is under the empty root, not where the unit names it.
verify=$(systemd-analyze verify --man=no "$root/$unit" 2>&1 | grep -v 'Command /usr/bin/zma-log is not executable') || true
[ -z "$verify" ] || fail "systemd-analyze verify /$unit: $verify"
dpkg-deb -e "${debs[0]}" "$x/control"
scripts=$(cd "$x/control" && ls | grep -Ex 'preinst|postinst|prerm|postrm' || true)
[ -z "$scripts" ] || fail "zma-driver has maintainer scripts ($scripts): the unit must stay off"
[ -z "$(find "$root/etc" -name 'zma-log-journal*' 2>/dev/null)" ] || fail "installing zma-driver enabled the unit"
# No journal is needed: without one it says so, and ends well.
printf '[Debug][10:00:00.000] [main]: check-packages\r\n' >"$x/one.log"
"$root/usr/bin/zma-log" --journal --file "$x/one.log" 2>"$x/journal.err" || { cat "$x/journal.err" >&2; fail "the installed zma-log --journal"; }
grep -q '^zma-log: 1 lines to the journal, 0 refused$\|^zma-log: 0 lines to the journal, 1 refused$' "$x/journal.err" \
  || { cat "$x/journal.err" >&2; fail "the installed zma-log --journal did not count its line"; }
say "/$unit: shipped, valid, off (no maintainer script, no link); the installed zma-log --journal runs"

# The shield-sim(1) example as printed, the paths under the empty root.
ex=$x/example
mkdir "$ex"
example="shield-sim --stay --link $ex/tty --spi $ex/spi.sock --auto-ring 12 </dev/null >$ex/sim.log &
sleep 3 | LD_LIBRARY_PATH=\$(echo $root/usr/lib/*/zma-driver-sim) \\
ZQ_BOARD_SERIAL=$ex/tty ZQ_BOARD_SPI=$ex/spi.sock zma-driver -ic 102 >$ex/driver.out 2>&1
kill \$!"
PATH=$root/usr/bin:$PATH timeout 20 bash tools/netns-exec.sh check-packages /bin/bash -c "$example" 2>"$x/example.err" || true
grep -qx 'shield_ready' "$ex/driver.out" || { cat "$ex/driver.out" "$x/example.err" >&2; fail "the shield-sim(1) example did not reach shield_ready"; }
say "the shield-sim(1) example: shield_ready"

# The launcher keeps its log in TMPDIR: under $x, it goes with the rest.
out=$x/demo.out
# Console input: a few seconds of nothing, then end of input ends the demo.
(sleep 4) | TMPDIR=$x timeout 30 bash tools/netns-exec.sh check-packages "$root/usr/bin/zma-driver-demo" >"$out" 2>"$x/demo.err" || true
if ! grep -qx 'shield_ready' "$out"; then
  cat "$out" "$x/demo.err" >&2
  fail "the installed zma-driver-demo did not show shield_ready"
fi
say "installed zma-driver-demo: shield_ready"
say "PASS"
