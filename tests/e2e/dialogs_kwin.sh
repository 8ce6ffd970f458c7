#!/usr/bin/env bash
# Under KWin (X11) the program's dialogs open above its own on-top windows:
# with the statistics window showing, the close question, the settings
# dialog and the log each stack above it, and the close question's buttons
# are all there to press.
. "$(dirname "$0")/lib.sh"
need kwin_x11 xprop
start_x
start_a11y_dialer kwin_x11 --replace
win=$(wait_window Nebrin 10)
# Busy, so that closing asks first.
probe press-and-wait "Połącz" "Połączony" 30 >/dev/null || die "could not connect"
probe press "Prędkości (statystyki)" || die "speed panel"
stats=$(wait_window "Statystyki połączenia" 15) || die "no statistics window"

stack_pos() {
  xprop -root _NET_CLIENT_LIST_STACKING | awk -F'# ' '{print $2}' | tr -d ' ' | tr ',' '\n' |
    grep -n -i "^0x0*$(printf '%x' "$1")\$" | cut -d: -f1
}
# Waits up to 10 s for window $1 (named $2) to stack above the statistics window.
wait_above_stats() {
  local i a s
  for ((i = 0; i < 50; i++)); do
    a=$(stack_pos "$1")
    s=$(stack_pos "$stats")
    [ -n "$a" ] && [ -n "$s" ] && [ "$a" -gt "$s" ] && return 0
    sleep 0.2
  done
  import -window root "$E2E_OUT/dialogs_kwin.png"
  die "$2 ($a) is not above the statistics window ($s) (screenshot dialogs_kwin.png)"
}
gone() {
  local i
  for ((i = 0; i < 50; i++)); do [ -z "$(windows_named "$1")" ] && return 0; sleep 0.2; done
  die "$1 did not close"
}

probe press "Zamknij" || die "close button"
box=$(wait_window "Zamknij" 15) || die "no close question"
wait_above_stats "$box" "the close question"
import -window root "$E2E_OUT/dialogs_kwin.png"
xdotool key Escape
gone "Zamknij"
kill -0 "$LAST_PID" || die "the dialer ended although the question was cancelled"

probe press "Konfiguracja połączenia" || die "settings button"
conf=$(wait_window "Konfiguracja połączenia" 15) || die "no settings dialog"
wait_above_stats "$conf" "the settings dialog"
xdotool key Escape
gone "Konfiguracja połączenia"

xdotool windowactivate --sync "$win" 2>/dev/null || true
xdotool key ctrl+alt+l
log=$(wait_window "Połączenie: Nebrin" 15) || die "no log"
wait_above_stats "$log" "the log"
echo "PASS: under kwin_x11 the close question, the settings dialog and the log stack above the statistics window"
