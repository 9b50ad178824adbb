#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# cmake --install into a scratch root: the server's unit starts the installed server and reads
# its settings file where the installation put it.
# usage: install.sh BUILD-FOLDER
set -euo pipefail
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$1" >/dev/null
unit=$(find "$root" -name zephrin-server.service)
settings=$(sed -n 's/^EnvironmentFile=-//p' "$unit")
server=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit")
echo "the unit reads $settings and starts $server"
[ -f "$root$settings" ] && [ -x "$root$server" ]
