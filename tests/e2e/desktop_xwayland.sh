#!/usr/bin/env bash
# In a Wayland session with Xwayland (Weston on Xvfb, WAYLAND_DISPLAY and
# DISPLAY both set): the program runs as an X11 client, docks at the bottom
# right of the screen, is shaped (what its mask cuts away shows the desktop
# behind), and its statistics window comes as the main window's transient.
#
# Xwayland takes the lowest display number whose socket is free, so the
# whole session runs in a mount and network namespace of its own (no
# abstract sockets shared), with a folder of X sockets of its own; the lock
# files in /tmp keep the display numbers apart from other servers'.
if [ -z "${NEBRIN_E2E_PRIVATE:-}" ]; then
  for p in unshare weston Xwayland xwininfo xprop; do
    command -v "$p" >/dev/null 2>&1 || { echo "SKIP: $p is not installed (tools/install-deps.sh installs it)"; exit 77; }
  done
  unshare -m -n true 2>/dev/null || { echo "SKIP: no private mount and network namespace may be made here"; exit 77; }
  NEBRIN_E2E_PRIVATE=1 exec unshare -m -n bash "$0" "$@"
fi
mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix || { echo "SKIP: no private /tmp/.X11-unix may be mounted here"; exit 77; }

. "$(dirname "$0")/lib.sh"
start_x
host=$DISPLAY
# A plain green desktop: what the window's shape cuts away shows green.
printf '[shell]\nbackground-image=%s\nbackground-color=0xff00c000\n' "$WORK/none.png" >"$WORK/weston.ini"
start_bg weston --config="$WORK/weston.ini" --backend=x11-backend.so --width=1024 --height=768 --xwayland \
  --socket=wayland-nebrin --log="$WORK/weston.log"
x=
for ((i = 0; i < 100; i++)); do
  x=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$WORK/weston.log" 2>/dev/null | head -1)
  [ -n "$x" ] && [ -S "$XDG_RUNTIME_DIR/wayland-nebrin" ] && break
  sleep 0.2
done
[ -n "$x" ] || die "Weston started no Xwayland: $(cat "$WORK/weston.log" "$WORK/helpers.log" 2>/dev/null)"
export WAYLAND_DISPLAY=wayland-nebrin DISPLAY=$x
home=$(make_home)
start_nebrin "$home"
pid=$LAST_PID
wait_ready 60 || die "no offline page; log: $(cat "$WORK/nebrin.log")"
# An X11 client: its windows are Xwayland's.
win=$(wait_window Nebrin 10) || die "no main window on Xwayland ($x); log: $(cat "$WORK/nebrin.log")"
read -r sw sh <<<"$(xwininfo -root | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w, h}')"
want="$((sw - 300)) $((sh - 180)) 300 180"
wait_geometry "$win" "$want" 10 || die "main window at $(geometry "$win"), expected $want"
xwininfo -shape -id "$win" | grep -q 'Window shape extents' || die "the main window has no X shape"

# The statistics window, from a click on the speed display.
xdotool mousemove --window "$win" 80 152 click 1
stats=$(wait_window "Statystyki połączenia" 10) || die "no statistics window after a click on the speeds"
for ((i = 0; i < 25; i++)); do
  xprop -id "$stats" WM_TRANSIENT_FOR | grep -q "$(printf '0x%x' "$win")" && break
  sleep 0.2
done
xprop -id "$stats" WM_TRANSIENT_FOR | grep -q "$(printf '0x%x' "$win")" ||
  die "statistics window not the main window's transient: $(xprop -id "$stats" WM_TRANSIENT_FOR)"

sleep 1
shot="$E2E_OUT/desktop_xwayland.png"
DISPLAY=$host import -window root "$shot" || die "no screenshot"
# Cut away by the mask: the top corners (the right one below the caption's
# slope) show the green desktop, darkened at most by the window's shadow;
# inside, the skin.
green() {
  local r g b
  IFS=, read -r r g b <<<"$(pixel "$shot" "$1" "$2")"
  [ "$g" -gt 100 ] && [ "$g" -gt $((r + 60)) ] && [ "$g" -gt $((b + 60)) ]
}
read -r mx my _ _ <<<"$(geometry "$win")"
for at in "0 0" "299 0" "295 4"; do
  read -r dx dy <<<"$at"
  green $((mx + dx)) $((my + dy)) ||
    die "window pixel $dx,$dy is $(pixel "$shot" $((mx + dx)) $((my + dy))), not the desktop: not shaped (screenshot $shot)"
done
green $((mx + 150)) $((my + 90)) && die "the window is not drawn (screenshot $shot)"
echo "PASS: an X11 client of Xwayland ($x) under Weston, docked at $want, shaped; screenshot $shot"
