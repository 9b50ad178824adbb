#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages that building, running and testing Zephrin need; with the
# argument "screenshot", also what scripts/screenshot.sh needs.
# This script is the one place that knows the package list.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-qpa-plugins libgl-dev
  libssl-dev openssl
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 clang-tidy libclang-rt-14-dev
  xvfb xauth fonts-dejavu-core fonts-liberation2
  fp-utils xchm xdg-utils
  libxcb1-dev
  dpkg-dev debhelper lintian appstream x11-utils systemd openbox
  dbus at-spi2-core python3-pyatspi
  libhamlib-utils
)
[ "${1:-}" = screenshot ] && packages+=(imagemagick)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
