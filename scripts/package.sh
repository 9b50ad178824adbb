#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package build-deb/zephrin_<version>_<arch>.deb with dpkg-buildpackage, from
# a clean copy of the sources (the files git knows, as a fresh checkout has them).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
version="$(dpkg-parsechangelog -S Version)"
rm -rf build-deb
mkdir -p "build-deb/zephrin-$version"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
    tar -cf - --null --no-recursion -T - | tar -xf - -C "build-deb/zephrin-$version"
else
  tar -cf - --exclude='./build*' --exclude=./.git . | tar -xf - -C "build-deb/zephrin-$version"
fi
# Two jobs at most: the machines that build it have two cores.
(cd "build-deb/zephrin-$version" && dpkg-buildpackage -us -uc -b -j2)
ls build-deb/zephrin_"$version"_*.deb
