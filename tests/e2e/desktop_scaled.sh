#!/usr/bin/env bash
# On a screen scaled by two (QT_SCALE_FACTOR=2) the speed labels are drawn
# with a scalable face: glyphs twice as tall, not 1x bitmap glyphs spread
# over twice their spacing. The window docks inside the screen.
. "$(dirname "$0")/lib.sh"
start_x
home=$(make_home)
export QT_SCALE_FACTOR=2
start_nebrin "$home"
wait_window Nebrin 30 >/dev/null || die "no main window; log: $(cat "$WORK/nebrin.log")"
wait_ready 30 || die "no offline page; log: $(cat "$WORK/nebrin.log")"
# Looked up once the pane is up (wait_ready).
win=$(wait_window Nebrin 10)
# 1024x768 device pixels are 512x384 logical ones.
wait_geometry "$win" "424 408 600 360" 10 || die "window at $(geometry "$win"), expected 424 408 600 360"
sleep 1
shot="$E2E_OUT/desktop_scaled.png"
import -window root "$shot" || die "no screenshot"

# The "DL:" caption of the speed display, in device pixels.
tool="$(dirname "$NEBRIN_BIN")/nebrin-theme"
key() { "$tool" get "$NEBRIN_PACKAGE" DLULSppedMeter "$1" 2>/dev/null || echo "$2"; }
left=$(( 424 + 2 * $(key SMLeft 64) ))
top=$(( 408 + 2 * $(key SMTop 145) ))
# Light text on the dark display: the ink's bounding box.
ink=$(convert "$shot" -crop "28x15+$left+$top" +repage -colorspace gray -threshold 45% -trim -format '%w %h' info:)
read -r iw ih <<<"$ink"
# 9-pixel text scaled by two: caps about 12 device pixels tall; the bitmap
# face would stay about 6.
[ "${ih:-0}" -ge 10 ] || die "the speed caption's ink is ${iw}x$ih device pixels: not drawn at twice the size"
echo "PASS: docked at 424,408 (device), speed caption ink ${iw}x$ih; screenshot $shot"
