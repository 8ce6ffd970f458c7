#!/usr/bin/env bash
# Screens that change under a running dialer (xrandr): docked, it docks
# again at the bottom right of the new screen; once the user has dragged it
# away, it stays where it was put, pulled back onto the screen when the
# screen no longer holds it.
. "$(dirname "$0")/lib.sh"
need xrandr
start_x
home=$(make_home)
start_nebrin "$home"
wait_window Nebrin 30 >/dev/null || die "no main window; log: $(cat "$WORK/nebrin.log")"
wait_ready 30 || die "no offline page; log: $(cat "$WORK/nebrin.log")"
# Looked up once the pane is up (wait_ready).
win=$(wait_window Nebrin 10)
wait_geometry "$win" "724 588 300 180" 10 || die "not docked: $(geometry "$win")"

screen_mode() {  # width height
  local name="e2e-$1x$2"
  xrandr --newmode "$name" 0 "$1" 0 0 0 "$2" 0 0 0 2>/dev/null
  xrandr --addmode screen "$name" 2>/dev/null
  xrandr --output screen --mode "$name" || die "xrandr cannot set $1x$2"
}

screen_mode 800 600
wait_geometry "$win" "500 420 300 180" 10 || die "not docked again on 800x600: $(geometry "$win")"
import -window root "$E2E_OUT/desktop_xrandr.png" || die "no screenshot"

# Dragged by its caption (no window manager: the window follows the mouse).
xdotool mousemove 600 430 mousedown 1
xdotool mousemove 620 440 mousemove 650 450 mousemove 250 110
xdotool mouseup 1
wait_geometry "$win" "150 100 300 180" 10 || die "the drag left the window at $(geometry "$win")"
screen_mode 1024 768
sleep 1
[ "$(geometry "$win")" = "150 100 300 180" ] || die "a dragged window was docked again: $(geometry "$win")"
screen_mode 400 300
wait_geometry "$win" "100 100 300 180" 10 || die "not pulled onto the 400x300 screen: $(geometry "$win")"
echo "PASS: docked again at 500,420 on 800x600; dragged, kept, then pulled onto a 400x300 screen"
