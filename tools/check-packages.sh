#!/usr/bin/env bash
# Builds the Debian packages of a native build and of the arm64 cross build,
# checks them with lintian, installs the native ones into an empty root and
# runs the installed zma-driver-demo there until the driver says
# "shield_ready"; checks that the arm64 driver package holds no board library.
# Usage: tools/check-packages.sh [NATIVE_BUILD] [ARM64_BUILD]   (as root)
set -euo pipefail
cd "$(dirname "$0")/.."
native=${1:-build}
arm64=${2:-build-arm64}
bash tools/setup-deps.sh lintian
say() { echo "check-packages: $*"; }
fail() { echo "check-packages: FAIL: $*" >&2; exit 1; }

for b in "$native" "$arm64"; do
  [ -f "$b/CPackConfig.cmake" ] || fail "no $b/CPackConfig.cmake: configure and build $b first"
  rm -f "$b"/zma-driver*.deb
  (cd "$b" && cpack -G DEB >/dev/null) || fail "cpack in $b"
done
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$native/CPackConfig.cmake")-1
native_arch=$(dpkg --print-architecture)
debs=("$native/zma-driver_${version}_${native_arch}.deb" "$native/zma-driver-sim_${version}_${native_arch}.deb"
      "$arm64/zma-driver_${version}_arm64.deb" "$arm64/zma-driver-sim_${version}_arm64.deb")
for d in "${debs[@]}"; do
  [ -f "$d" ] || fail "no $d"
done

# lintian: no errors (warnings are shown).
for d in "${debs[@]}"; do
  lintian --fail-on error --no-tag-display-limit "$d" || fail "lintian reports errors on $d"
done
say "lintian: no errors on ${#debs[@]} packages"

# The arm64 driver: the vendor's library is needed, not shipped; no run path
# into a build tree; Depends names the Qt runtime packages.
arm_driver=${debs[2]}
if dpkg-deb --contents "$arm_driver" | grep -q 'libzq-board'; then
  fail "$arm_driver holds a board library"
fi
x=$(mktemp -d)
trap 'rm -rf "$x"' EXIT
dpkg-deb -x "$arm_driver" "$x/arm"
dyn=$(readelf -d "$x/arm/usr/bin/zma-driver")
grep -q 'NEEDED.*\[libzq-board-korvel-2023.so.1\]' <<<"$dyn" || fail "arm64 zma-driver does not need the board library"
! grep -Eq 'RUNPATH|RPATH' <<<"$dyn" || fail "arm64 zma-driver has a run path: $(grep -E 'RUNPATH|RPATH' <<<"$dyn")"
depends=$(dpkg-deb -f "$arm_driver" Depends)
for p in libqt5core5a libqt5network5 libqt5serialport5; do
  grep -q "$p" <<<"$depends" || fail "arm64 zma-driver Depends lacks $p: $depends"
done
say "arm64 zma-driver: no board library inside, NEEDED libzq-board-korvel-2023.so.1, no run path, Depends: $depends"

# The native packages in an empty root, then the installed launcher.
root=$x/root
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
touch "$root/var/lib/dpkg/status"
# The root has no Qt of its own: the dependencies are this machine's.
dpkg --root="$root" --force-depends --force-script-chrootless -i "${debs[0]}" "${debs[1]}" >/dev/null \
  || fail "dpkg could not install into $root"
! readelf -d "$root/usr/bin/zma-driver" | grep -Eq 'RUNPATH|RPATH' || fail "installed zma-driver has a run path"
out=$x/demo.out
# Console input: a few seconds of nothing, then end of input ends the demo.
(sleep 4) | timeout 30 bash tools/netns-exec.sh check-packages "$root/usr/bin/zma-driver-demo" >"$out" 2>"$x/demo.err" || true
if ! grep -qx 'shield_ready' "$out"; then
  cat "$out" "$x/demo.err" >&2
  fail "the installed zma-driver-demo did not show shield_ready"
fi
say "installed zma-driver-demo: shield_ready"
say "PASS"
