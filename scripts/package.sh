#!/usr/bin/env bash
# Builds the Debian package zephrin_<version>_<arch>.deb from a clean build folder, build-deb/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
rm -rf build-deb
# Debian's hardening flags (fortify, stack protector, relro) as dpkg-buildpackage would set them.
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS) -Wl,-z,now"
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DZEPHRIN_TESTS=OFF -DZEPHRIN_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build build-deb -j"$(( $(nproc) < 2 ? $(nproc) : 2 ))"
(cd build-deb && cpack -G DEB)
ls build-deb/zephrin_*.deb
