#!/usr/bin/env bash
# Installs what building and testing the driver needs (Debian 12, as root).
# With arguments, installs those packages instead (adding the arm64
# architecture first when one of them is an :arm64 package).
set -euo pipefail
if [ $# -gt 0 ]; then
  packages=("$@")
else
  packages=(cmake g++ make qtbase5-dev libqt5serialport5-dev libsystemd-dev dpkg-dev)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  case " ${missing[*]}" in
    *:arm64*) dpkg --add-architecture arm64 ;;
  esac
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
