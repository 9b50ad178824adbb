#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds Zephrin, its tests, tools and benchmarks into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
# CI (CI set in the environment) treats every compiler warning as an error.
werror=OFF
[ -n "${CI:-}" ] && werror=ON
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEPHRIN_TESTS=ON -DZEPHRIN_BENCH=ON \
  -DZEPHRIN_WERROR=$werror >/dev/null
cmake --build build -j"$(nproc)"
