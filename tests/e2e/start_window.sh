#!/usr/bin/env bash
# The program starts with the default theme: a skinned, shaped window at the
# bottom right of the screen, and the offline page files in html/.
. "$(dirname "$0")/lib.sh"
start_x
home=$(make_home)
export NEBRIN_TRACE_FIRST_PAINT=1
start_nebrin "$home"
pid=$LAST_PID
wait_window Nebrin 30 >/dev/null || die "no main window; log: $(cat "$WORK/nebrin.log")"
# The offline page loaded; the start has made the main window anew.
wait_ready 60 || die "the start did not end (no offline page); log: $(cat "$WORK/nebrin.log")"
win=$(wait_window Nebrin 5) || die "no main window after the start; log: $(cat "$WORK/nebrin.log")"

geo=$(xwininfo -id "$win")
x=$(awk '/Absolute upper-left X/ {print $4}' <<<"$geo")
y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$geo")
w=$(awk '/Width:/ {print $2}' <<<"$geo")
h=$(awk '/Height:/ {print $2}' <<<"$geo")
[ "$w" = 300 ] && [ "$h" = 180 ] || die "window is ${w}x${h}, expected 300x180"
[ "$x" = $((1024 - 300)) ] && [ "$y" = $((768 - 180)) ] || die "window at $x,$y, expected the bottom right"

shot="$E2E_OUT/start_window.png"
import -window root "$shot" || die "no screenshot"
# The mask's top-left colour is cut away: the white root shows there.
corner=$(pixel "$shot" "$x" "$y")
[ "$corner" = "255,255,255" ] || die "top-left corner of the window is $corner, not cut away"
# Inside, the skin's background is drawn (not the white root).
inside=$(pixel "$shot" $((x + 150)) $((y + 170)))
[ "$inside" != "255,255,255" ] || die "the window's inside is white: no skin"
[ -s "$home/html/offline.html" ] && [ -s "$home/html/offline.jpg" ] || die "offline page files not written"
kill -0 "$pid" || die "the program ended"

# The close button ends the program (nothing is connected: no question).
tool="$(dirname "$NEBRIN_BIN")/nebrin-theme"
key() { "$tool" get "$NEBRIN_PACKAGE" CloseButton "$1" 2>/dev/null || echo "$2"; }
cx=$(( $(key CloseBtnLeft 268) + $(key CloseBtnWidth 22) / 2 ))
cy=$(( $(key CloseBtnTop 13) + $(key CloseBtnHeight 16) / 2 ))
xdotool mousemove $((x + cx)) $((y + cy)) click 1
wait_exit "$pid" 15 || die "the close button did not end the program"
[ "$EXIT_CODE" = 0 ] || die "closed with status $EXIT_CODE"
echo "PASS: skinned window at $x,$y; screenshot $shot; closed by its button"
