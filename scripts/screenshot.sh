#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes docs/screenshot.png, the README's picture of the window: Zephrin under openbox on a
# virtual display, on zephrin-boxsim's box with OTRSP chosen, its lamps lit by the box's answers.
# Builds first when build/ holds no program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh screenshot
[ -x build/zephrin ] && [ -x build/zephrin-boxsim ] || bash scripts/build.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
xvfb-run -a -s "-screen 0 800x500x24" bash -c '
  set -euo pipefail
  work=$1
  openbox --sm-disable >/dev/null 2>&1 & wm=$!
  build/zephrin-boxsim --protocol otrsp >"$work/box" 2>&1 & box=$!
  trap "kill \$wm \$box 2>/dev/null" EXIT
  sleep 1
  mkdir -p "$work/Zephrin"
  printf "[settings]\nport=3\nprotocol=1\n[serial%%20ports]\nCOM3=%s\n" "$(head -1 "$work/box")" \
    >"$work/Zephrin/Zephrin.conf"
  XDG_CONFIG_HOME=$work QT_QPA_PLATFORM=xcb build/zephrin >/dev/null 2>&1 & zephrin=$!
  sleep 3
  id=$(xwininfo -root -tree | awk "/\"Zephrin\": \\(\"zephrin\" \"Zephrin\"\\)/ {print \$1; exit}")
  read -r x y w h < <(xwininfo -id "$id" | awk "/Absolute upper-left X/ {x=\$NF}
    /Absolute upper-left Y/ {y=\$NF} /Width/ {w=\$NF} /Height/ {print x, y, w, \$NF}")
  IFS=", " read -r l r t b < <(xprop -id "$id" _NET_FRAME_EXTENTS | sed "s/.*= //")
  import -window root "$work/screen.png"
  /usr/bin/convert "$work/screen.png" -crop "$((w + l + r))x$((h + t + b))+$((x - l))+$((y - t))" \
    +repage docs/screenshot.png
  kill -TERM $zephrin
  wait $zephrin
' bash "$work"
echo "docs/screenshot.png"
