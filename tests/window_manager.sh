#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The program as an operator runs it, under a real window manager (openbox, on the display of
# xvfb-run), against zephrin-boxsim: it opens its box; its window stands where the window manager
# puts it the first time, with its whole frame on the screen wherever its stored position would
# put it, and exactly where it stood start after start; SIGTERM ends it cleanly, even while a box
# waits for an answer.
# usage: window_manager.sh ZEPHRIN ZEPHRIN-BOXSIM
set -euo pipefail
work=$(mktemp -d)
openbox --sm-disable >/dev/null 2>&1 & wm=$!
"$2" --protocol otrsp >"$work/box" 2>&1 & box=$!
trap 'kill $wm $box 2>/dev/null; rm -rf "$work"' EXIT
sleep 1
device=$(head -1 "$work/box")
mkdir -p "$work/Zephrin"
read -r screen_width screen_height < <(xwininfo -root | awk '/Width/ {w=$2} /Height/ {print w, $2}')
settings() { # FormLeft FormTop, or nothing stored
  { echo '[settings]'; [ $# -eq 0 ] || printf 'FormLeft=%s\nFormTop=%s\n' "$1" "$2"
    printf 'port=3\nprotocol=1\n[serial%%20ports]\nCOM3=%s\n' "$device"; } >"$work/Zephrin/Zephrin.conf"
}
# Where the window manager framed the window: the frame's left, top, right and bottom edges,
# then the inside's left and top, in pixels.
frame() {
  local id x y w h l r t b
  id=$(xwininfo -root -tree | awk '/"Zephrin": \("zephrin" "Zephrin"\)/ {print $1; exit}')
  read -r x y w h < <(xwininfo -id "$id" | awk '/Absolute upper-left X/ {x=$NF}
    /Absolute upper-left Y/ {y=$NF} /Width/ {w=$NF} /Height/ {print x, y, w, $NF}')
  IFS=', ' read -r l r t b < <(xprop -id "$id" _NET_FRAME_EXTENTS | sed 's/.*= //')
  echo $((x - l)) $((y - t)) $((x + w + r)) $((y + h + b)) "$x" "$y"
}
start() {
  XDG_CONFIG_HOME=$work QT_QPA_PLATFORM=xcb "$1" >/dev/null 2>&1 & zephrin=$!
  sleep 2 # shown, framed and placed by the window manager
  framed=$(frame 2>/dev/null) || true
  kill -TERM $zephrin
  wait $zephrin # exit status 0, or the test fails
  stored=$(grep -E '^Form(Left|Top)=' "$work/Zephrin/Zephrin.conf" | tr '\n' ' ')
}
whole_frame_on_screen() {
  read -r left top right bottom x y <<<"$framed"
  echo "frame $left,$top to $right,$bottom; stored: $stored"
  [ "$left" -ge 0 ] && [ "$top" -ge 0 ] && [ "$right" -le "$screen_width" ] &&
    [ "$bottom" -le "$screen_height" ]
}

# Nothing stored: where the window manager put it, which is stored.
settings
start "$1"
whole_frame_on_screen
[ "$stored" = "FormLeft=$((x * 15)) FormTop=$((y * 15)) " ]
# Stored where the frame's title bar, or its far corner, would be off the screen.
for position in "0 0" "15000 11000"; do
  settings $position
  start "$1"
  whole_frame_on_screen
done
settings 1500 1500
for n in 1 2; do
  start "$1"
  echo "start $n: $stored"
  [ "$stored" = "FormLeft=1500 FormTop=1500 " ]
done
# Each start asked for the focus and switched both radios' aux outputs off, twice.
[ "$(grep -c '^< ' "$work/box")" -eq 30 ]
grep -q '^< AUX200' "$work/box"
# The serial port's lock file went with the port.
if grep -qs "^ *$zephrin\$" "/run/lock/LCK..$(echo "${device#/dev/}" | tr / _)"; then exit 1; fi
sed -i 's|^COM3=.*|COM3=/dev/zephrin-missing|' "$work/Zephrin/Zephrin.conf"
start "$1" # its start-up box about the missing device is still open
