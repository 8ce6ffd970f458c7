#!/usr/bin/env bash
# On native Wayland (NEBRIN_PLATFORM=wayland under Weston, no X server for
# the program): it comes up with its offline page (the web module in the
# process, nebrin-web being X11's), shaped by transparency, shows its
# statistics window, and a minimise without a notification area leaves
# nothing behind, the statistics window included. The compositor places the
# windows, so they are found on the screenshots: the desktop is plain green.
. "$(dirname "$0")/lib.sh"
need weston
start_x
printf '[shell]\nbackground-image=%s\nbackground-color=0xff00c000\n' "$WORK/none.png" >"$WORK/weston.ini"
start_bg weston --config="$WORK/weston.ini" --backend=x11-backend.so --width=1024 --height=768 \
  --socket=wayland-nebrin --log="$WORK/weston.log"
for ((i = 0; i < 100; i++)); do
  [ -S "$XDG_RUNTIME_DIR/wayland-nebrin" ] && break
  sleep 0.2
done
[ -S "$XDG_RUNTIME_DIR/wayland-nebrin" ] || die "Weston did not start: $(cat "$WORK/weston.log" "$WORK/helpers.log" 2>/dev/null)"
# The pointer over the panel, out of the pictures.
park() { xdotool mousemove 600 10; }
park

home=$(make_home)
(unset DISPLAY; WAYLAND_DISPLAY=wayland-nebrin NEBRIN_PLATFORM=wayland NEBRIN_HOME="$home" NEBRIN_TRACE_FIRST_PAINT=1 \
  exec "$NEBRIN_BIN") >>"$WORK/nebrin.log" 2>&1 &
pid=$!
PIDS+=("$pid")
if ! wait_ready 60; then
  if grep -q 'platform plugin "wayland"' "$WORK/nebrin.log"; then
    echo "SKIP: the toolkit's Wayland platform is not installed (qt6-wayland, tools/install-deps.sh installs it)"
    exit 77
  fi
  die "no offline page; log: $(cat "$WORK/nebrin.log")"
fi
sleep 1

# What is not green below the panel: "w h x y".
drawn() { convert "$1" -crop 1024x728+0+40 +repage -fuzz 30% -transparent '#00c000' -trim -format '%w %h %X %Y' info:; }
green() {
  local r g b
  IFS=, read -r r g b <<<"$(pixel "$1" "$2" "$3")"
  [ "$g" -gt 100 ] && [ "$g" -gt $((r + 60)) ] && [ "$g" -gt $((b + 60)) ]
}
shot="$WORK/main.png"
import -window root "$shot" || die "no screenshot"
read -r w h x y <<<"$(drawn "$shot")"
y=$((y + 40))
if [ "$w $h" != "300 180" ]; then
  cp "$shot" "$E2E_OUT/desktop_wayland.png"
  die "the main window is not drawn as 300x180 but ${w}x$h (screenshot $E2E_OUT/desktop_wayland.png)"
fi
for at in "0 0" "299 0" "295 4"; do
  read -r dx dy <<<"$at"
  green "$shot" $((x + dx)) $((y + dy)) || die "window pixel $dx,$dy is $(pixel "$shot" $((x + dx)) $((y + dy))), not the desktop: not shaped"
done

# The statistics window, from a click on the speed display.
xdotool mousemove $((x + 80)) $((y + 152)) click 1
park
sleep 2
shot="$E2E_OUT/desktop_wayland.png"
import -window root "$shot" || die "no screenshot"
read -r w2 h2 _ _ <<<"$(drawn "$shot")"
[ $((w2 * h2)) -gt $((300 * 180 * 3 / 2)) ] || die "no statistics window after a click on the speeds (screenshot $shot)"

# Minimised without a notification area: no window is left, the
# statistics window included, and the program runs on.
xdotool mousemove $((x + 255)) $((y + 21)) click 1
park
sleep 2
import -window root "$WORK/minimised.png" || die "no screenshot"
left=$(drawn "$WORK/minimised.png")
[[ "$left" == "1 1 "* ]] || { cp "$WORK/minimised.png" "$E2E_OUT/desktop_wayland_minimised.png"; die "a window is left after the minimise: $left"; }
kill -0 "$pid" 2>/dev/null || die "the program ended; log: $(cat "$WORK/nebrin.log")"
kill "$pid"
wait_exit "$pid" 15 || die "the program did not end"
echo "PASS: on native Wayland, shaped by transparency, statistics shown, nothing left after a minimise; screenshot $shot"
