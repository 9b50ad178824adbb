#!/usr/bin/env bash
# Installs what Zephrin needs, builds it and opens its window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
exec build/zephrin
