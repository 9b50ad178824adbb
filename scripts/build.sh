#!/usr/bin/env bash
# Configures and builds Zephrin, its tests, tools and benchmarks into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEPHRIN_TESTS=ON -DZEPHRIN_BENCH=ON >/dev/null
cmake --build build -j"$(nproc)"
