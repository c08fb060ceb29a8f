#!/usr/bin/env bash
# Installs the Debian packages the build needs (only the missing ones), then configures and
# builds into build/. Needs root or sudo for the install step.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(build-essential cmake pkg-config qt6-base-dev qt6-serialport-dev libgl-dev
          libmodbus-dev fonts-dejavu-core qt6-charts-dev liblua5.4-dev
          ser2net python3-pymodbus python3-serial-asyncio mbpoll ${VARNOK_EXTRA_PACKAGES:-})
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
fi

build=${VARNOK_BUILD_DIR:-$here/build}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=${VARNOK_BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build" -j"$(nproc)"
