#!/usr/bin/env bash
# Under a real window manager (openbox) with a panel (tint2, its tray
# included): the dialer docks above the panel without a frame, has its icon
# in the panel's notification area, keeps out of the taskbar and the pager,
# stays above a focused terminal, brings its statistics window along when the
# window manager moves it, and takes its shortcuts once it has the focus.
. "$(dirname "$0")/lib.sh"
need openbox tint2 xterm xprop
start_x
export HOME="$WORK"
start_bg openbox --sm-disable
sleep 0.5
start_bg tint2
# The panel reserves its strip at the bottom: the work area shrinks.
for ((i = 0; i < 50; i++)); do
  area=$(xprop -root _NET_WORKAREA 2>/dev/null | awk -F'= ' '{print $2}' | cut -d, -f1-4 | tr -d ' ')
  [ -n "$area" ] && [ "${area##*,}" != 768 ] && break
  sleep 0.2
done
[ -n "$area" ] && [ "${area##*,}" != 768 ] || die "tint2 reserved no space: ${area:-no work area}"
IFS=, read -r ax ay aw ah <<<"$area"

home=$(make_home)
start_nebrin "$home"
wait_window Nebrin 30 >/dev/null || die "no main window; log: $(cat "$WORK/nebrin.log")"
wait_ready 30 || die "no offline page; log: $(cat "$WORK/nebrin.log")"
# Looked up once the pane is up (wait_ready).
win=$(wait_window Nebrin 10)
want="$((ax + aw - 300)) $((ay + ah - 180)) 300 180"
wait_geometry "$win" "$want" 10 || die "main window at $(geometry "$win"), expected $want above the panel"

# The tray icon sits in tint2's notification area (its window inside the
# panel's), also when the area came up after the program.
embedded=
for ((i = 0; i < 25; i++)); do
  for panel in $(xdotool search --classname '^tint2$' 2>/dev/null); do
    xwininfo -tree -id "$panel" | grep -q '("nebrin" "nebrin")' && embedded=$panel
  done
  [ -n "$embedded" ] && break
  sleep 0.2
done
[ -n "$embedded" ] || die "no tray icon in tint2's notification area"

frame=$(xprop -id "$win" _NET_FRAME_EXTENTS)
[[ "$frame" == *"= 0, 0, 0, 0" ]] || die "the window has a frame: $frame"
# The hints are written again after each show and X id change: give the
# last of them a moment to reach the window manager.
for ((i = 0; i < 50; i++)); do
  states=$(xprop -id "$win" _NET_WM_STATE)
  missing=
  for s in _NET_WM_STATE_SKIP_TASKBAR _NET_WM_STATE_SKIP_PAGER _NET_WM_STATE_ABOVE; do
    [[ "$states" == *"$s"* ]] || missing="$s"
  done
  [ -z "$missing" ] && break
  sleep 0.2
done
[ -z "$missing" ] || die "main window lacks $missing: $states"

# The statistics window, from a click on the speed display.
read -r mx my _ _ <<<"$(geometry "$win")"
xdotool mousemove $((mx + 80)) $((my + 152)) click 1
stats=$(wait_window "Statystyki połączenia" 10) || die "no statistics window after a click on the speeds"
read -r sx sy sw sh <<<"$(geometry "$stats")"
[ "$sx $((sy + sh))" = "$mx $my" ] || die "statistics window at $sx,$sy (${sw}x$sh), not above the main window at $mx,$my"
states=$(xprop -id "$stats" _NET_WM_STATE)
[[ "$states" == *_NET_WM_STATE_SKIP_TASKBAR* ]] || die "statistics window in the taskbar: $states"
xprop -id "$stats" WM_TRANSIENT_FOR | grep -q 'window id' || die "statistics window has no transient parent"

# A terminal over the dialer takes the focus; the dialer stays above it.
start_bg xterm -geometry 120x40+300+200 -title nebrin-e2e-term
term=$(wait_window nebrin-e2e-term 15) || die "no terminal"
xdotool windowactivate --sync "$term" 2>/dev/null || true
sleep 1
stack=$(xprop -root _NET_CLIENT_LIST_STACKING | awk -F'# ' '{print $2}' | tr -d ' ' | tr ',' '\n')
pos() { grep -n -i "^0x0*$(printf '%x' "$1")\$" <<<"$stack" | cut -d: -f1; }
tpos=$(pos "$term")
mpos=$(pos "$win")
[ -n "$tpos" ] && [ -n "$mpos" ] && [ "$mpos" -gt "$tpos" ] || die "dialer ($mpos) not above the focused terminal ($tpos): $stack"
shot="$E2E_OUT/desktop_openbox.png"
import -window root "$shot" || die "no screenshot"

# The window manager moves the main window: the statistics window follows.
xdotool windowmove "$win" 100 400
wait_geometry "$win" "100 400 300 180" 10 || die "main window did not move: $(geometry "$win")"
wait_geometry "$stats" "100 $((400 - sh)) $sw $sh" 10 || die "statistics window stayed at $(geometry "$stats")"

# Focused, the dialer takes its shortcuts: Ctrl+Alt+L opens the log.
xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
sleep 0.5
xdotool key ctrl+alt+l
wait_window "Połączenie: Nebrin" 10 >/dev/null || die "Ctrl+Alt+L opened no log window"
echo "PASS: docked at $want above the panel, icon in the tray, no frame, out of the taskbar, above a focused terminal, statistics follow; screenshot $shot"
