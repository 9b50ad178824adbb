#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds Zephrin, its tests, tools and benchmarks into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
# ZEPHRIN_WERROR=ON (as .ci/run sets it, and by default where CI is set) treats every compiler
# warning as an error.
werror=${ZEPHRIN_WERROR:-$([ -n "${CI:-}" ] && echo ON || echo OFF)}
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEPHRIN_TESTS=ON -DZEPHRIN_BENCH=ON \
  -DZEPHRIN_WERROR=$werror >/dev/null
cmake --build build -j"$(nproc)"
