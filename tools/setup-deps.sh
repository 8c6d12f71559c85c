#!/usr/bin/env bash
# Installs what building and testing the driver needs (Debian 12, as root).
set -euo pipefail
packages=(cmake g++ make qtbase5-dev libqt5serialport5-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
