#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what building, running and testing need on Debian 12, as root.
# Packages already present are left alone; nothing is installed twice.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-l10n-tools qt6-translations-l10n libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev libtomlplusplus-dev libqcustomplot-dev libasio-dev
  fonts-wqy-zenhei fontconfig
  xvfb xauth x11-utils xdotool imagemagick dpkg-dev file desktop-file-utils lintian
  help2man man-db zip unzip
  g++-mingw-w64-i686
  wine wine32:i386
  clang clang-format clang-tidy libclang-rt-14-dev
  pybind11-dev python3-numpy python3-pytest python3-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Wine runs the 32-bit Windows programs in the tests: it needs the i386
  # architecture's packages.
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
