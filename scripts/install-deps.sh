#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need, if any is missing.
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config
      qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl1-mesa-dev
      libjpeg-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
      clang libclang-rt-14-dev clang-format ccache
      socat poppler-utils xvfb xauth imagemagick desktop-file-utils appstream)
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
