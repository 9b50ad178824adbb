#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs clang-tidy with the project's checks over the program's sources (not the tests), using
# the compile commands of build/.
set -euo pipefail
cd "$(dirname "$0")/.."
tidy=$(command -v clang-tidy || command -v clang-tidy-14)
git ls-files 'app/*.cpp' 'boxprotocol/*.cpp' 'boxmodel/*.cpp' 'linecode/*.cpp' 'frontend/*.cpp' 'cipher/*.cpp' 'platform/*.cpp' 'tools/*.cpp' 'server/*.cpp' |
  xargs -P"$(nproc)" -n4 "$tidy" -p build --quiet 2>/dev/null
echo "clang-tidy: the program's sources pass"
