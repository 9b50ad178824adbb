#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The program as an operator runs it, under a real window manager (openbox, on the display of
# xvfb-run), against zephrin-boxsim: it opens its box, and its window comes back exactly where
# it stood, start after start; SIGTERM ends it cleanly, even while a box waits for an answer.
# usage: window_manager.sh ZEPHRIN ZEPHRIN-BOXSIM
set -euo pipefail
work=$(mktemp -d)
openbox --sm-disable >/dev/null 2>&1 & wm=$!
"$2" --protocol otrsp >"$work/box" 2>&1 & box=$!
trap 'kill $wm $box 2>/dev/null; rm -rf "$work"' EXIT
sleep 1
device=$(head -1 "$work/box")
mkdir -p "$work/Zephrin"
printf '[settings]\nFormLeft=1500\nFormTop=1500\nport=3\nprotocol=1\n[serial%%20ports]\nCOM3=%s\n' \
  "$device" >"$work/Zephrin/Zephrin.conf"
start() {
  XDG_CONFIG_HOME=$work QT_QPA_PLATFORM=xcb "$1" >/dev/null 2>&1 & zephrin=$!
  sleep 2 # shown, framed and placed by the window manager
  kill -TERM $zephrin
  wait $zephrin # exit status 0, or the test fails
}
for n in 1 2 3 4; do
  start "$1"
  stored=$(grep -E '^Form(Left|Top)=' "$work/Zephrin/Zephrin.conf" | tr '\n' ' ')
  echo "start $n: $stored"
  [ "$stored" = "FormLeft=1500 FormTop=1500 " ]
done
# Each start asked for the focus and switched both radios' aux outputs off, twice.
[ "$(grep -c '^< ' "$work/box")" -eq 24 ]
grep -q '^< AUX200' "$work/box"
# The serial port's lock file went with the port.
if grep -qs "^ *$zephrin\$" "/run/lock/LCK..$(echo "${device#/dev/}" | tr / _)"; then exit 1; fi
sed -i 's|^COM3=.*|COM3=/dev/zephrin-missing|' "$work/Zephrin/Zephrin.conf"
start "$1" # its start-up box about the missing device is still open
