#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Under a real window manager (openbox, on the display of xvfb-run), the window comes back
# exactly where it stood, start after start.  usage: window_manager.sh ZEPHRIN ZEPHRIN-BOXSIM
set -euo pipefail
work=$(mktemp -d)
openbox --sm-disable >/dev/null 2>&1 & wm=$!
"$2" --protocol otrsp >"$work/box" 2>&1 & box=$!
trap 'kill $wm $box 2>/dev/null; rm -rf "$work"' EXIT
sleep 1
mkdir -p "$work/Zephrin"
printf '[settings]\nFormLeft=1500\nFormTop=1500\nport=3\nprotocol=1\n[serial%%20ports]\nCOM3=%s\n' \
  "$(head -1 "$work/box")" >"$work/Zephrin/Zephrin.conf"
for start in 1 2 3 4; do
  XDG_CONFIG_HOME=$work QT_QPA_PLATFORM=xcb "$1" >/dev/null 2>&1 & zephrin=$!
  sleep 2 # shown, framed and placed by the window manager
  kill -TERM $zephrin
  wait $zephrin
  stored=$(grep -E '^Form(Left|Top)=' "$work/Zephrin/Zephrin.conf" | tr '\n' ' ')
  echo "start $start: $stored"
  [ "$stored" = "FormLeft=1500 FormTop=1500 " ]
done
