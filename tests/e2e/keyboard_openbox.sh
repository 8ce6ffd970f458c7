#!/usr/bin/env bash
# The dialer by keyboard alone under openbox: Tab walks the skin's controls
# in the order they are seen, then the provider's page (the focus read
# through AT-SPI), Enter on the power button connects, Ctrl+Alt+L opens the
# log while the pointer rests over the web pane (never clicked), closing it
# gives the keyboard back to the main window, Shift+F1 hangs up with the
# pointer still over the pane, and the settings dialog is filled in by typing
# and accepted with Enter. The walk is written to $E2E_OUT/keyboard_walk.txt.
. "$(dirname "$0")/lib.sh"
need openbox xprop
start_x
start_a11y_dialer openbox --sm-disable
win=$(wait_window Nebrin 10)
walk="$E2E_OUT/keyboard_walk.txt"
: >"$walk"
note() { echo "$*" >>"$walk"; }

# Waits up to $2 seconds for the focused control to be named $1.
wait_focused() {
  local i
  for ((i = 0; i < $2 * 2; i++)); do
    [ "$(probe focused)" = "$1" ] && return 0
    sleep 0.5
  done
  return 1
}
# Waits up to $2 seconds for the simulated line to list a connection (yes) or none (no).
wait_line() {
  local i
  for ((i = 0; i < $2 * 5; i++)); do
    if rasdial | grep -q Nebrin; then [ "$1" = yes ] && return 0; else [ "$1" = no ] && return 0; fi
    sleep 0.2
  done
  return 1
}

# The window came up active, with no click.
wait_active "$win" 20 || die "the main window is not active after its start: $(active)"
note "start: active window 'Nebrin'"

# Tab round the skin: every control once, in the order they are seen, then
# the provider's page.
order=()
for ((i = 0; i < 7; i++)); do
  xdotool key Tab
  sleep 0.3
  order+=("$(probe focused)")
done
note "Tab order: $(IFS='|'; echo "${order[*]}")"
want="Minimalizuj|Zamknij|Połącz|Prędkości (statystyki)|Informacja|Konfiguracja połączenia|Strona dostawcy"
got=$(IFS='|'; echo "${order[*]}")
# The round may start anywhere in the cycle: compare as a cycle.
[[ "$want|$want" == *"$got"* ]] || die "Tab order $got, expected the cycle $want"
shot="$E2E_OUT/keyboard_focus.png"
import -window root "$shot" || die "no screenshot"

# Shift+Tab back to the power button, Enter connects.
for ((i = 0; i < 8; i++)); do
  [ "$(probe focused)" = "Połącz" ] && break
  xdotool key shift+Tab
  sleep 0.3
done
[ "$(probe focused)" = "Połącz" ] || die "Shift+Tab never reached the power button"
xdotool key Return
wait_line yes 30 || die "Enter on the power button did not connect; log: $(cat "$WORK/nebrin.log")"
note "Enter on 'Połącz': connected"

# The pointer rests over the web pane (the theme's pane at 8,34 284x98),
# never clicked: the shortcuts still reach the dialer.
read -r mx my _ _ <<<"$(geometry "$win")"
xdotool mousemove $((mx + 150)) $((my + 80))
sleep 0.5
xdotool key ctrl+alt+l
log=$(wait_window "Połączenie: Nebrin" 15) || die "Ctrl+Alt+L with the pointer over the pane opened no log"
wait_active "$log" 10 || die "the log is not active"
note "Ctrl+Alt+L, pointer over the pane: log open and active"
xdotool key Escape
for ((i = 0; i < 50; i++)); do [ -z "$(windows_named "Połączenie: Nebrin")" ] && break; sleep 0.2; done
wait_active "$win" 10 || die "the keyboard did not come back to the main window after the log closed: $(active)"
note "Escape: log closed, main window active again"
xdotool key shift+F1
wait_line no 30 || die "Shift+F1 with the pointer over the pane did not hang up"
note "Shift+F1, pointer over the pane: disconnected"

# The settings dialog by its button, filled in by typing, Enter accepts.
tab_to "Konfiguracja połączenia" || die "Tab never reached the settings button"
xdotool key space
conf=$(wait_window "Konfiguracja połączenia" 15) || die "Space on the settings button opened no dialog"
wait_active "$conf" 10 || die "the settings dialog is not active"
wait_focused "Nazwa użytkownika:" 10 || die "the user name field has no focus: $(probe focused)"
# Openbox offers to minimise any window, the dialog too: it comes back at
# once, with the main window.
xdotool windowminimize "$conf"
sleep 1
for ((i = 0; i < 50; i++)); do
  xwininfo -id "$conf" | grep -q IsViewable && xwininfo -id "$win" | grep -q IsViewable && break
  sleep 0.2
done
xwininfo -id "$conf" | grep -q IsViewable || die "the minimised settings dialog did not come back"
xwininfo -id "$win" | grep -q IsViewable || die "the main window stayed minimised with the dialog"
wait_active "$conf" 10 || die "the settings dialog is not active after coming back"
wait_focused "Nazwa użytkownika:" 10 || die "the user name field lost the focus: $(probe focused)"
note "the settings dialog minimised by openbox: back at once, main window too"
fill_settings ania Sekret12 swiatlowod
for ((i = 0; i < 50; i++)); do [ -z "$(windows_named "Konfiguracja połączenia")" ] && break; sleep 0.2; done
[ -z "$(windows_named "Konfiguracja połączenia")" ] || die "Enter did not accept the settings dialog"
# The entry was written with what was typed (the simulated line's phonebook
# holds the service name and the credentials).
for ((i = 0; i < 25; i++)); do grep -q "swiatlowod" "$home/simline-user.pbk" && break; sleep 0.2; done
grep -q "swiatlowod" "$home/simline-user.pbk" || die "the typed settings were not stored: $(cat "$home/simline-user.pbk")"
wait_active "$win" 10 || die "the keyboard did not come back to the main window after the dialog: $(active)"
note "Space on 'Konfiguracja połączenia', typed user/password/service, Enter: stored, main window active again"
# Instant clicks on the skin (press and release in the same instant, as
# remote-control tools send them) leave no window move running: the window
# stays put when the mouse then moves with no button held, and keys still
# reach the dialer.
read -r mx my _ _ <<<"$(geometry "$win")"
for ((i = 0; i < 6; i++)); do
  xdotool mousemove $((mx + 200)) $((my + 20)) mousedown 1 mouseup 1
  sleep 0.3
  xdotool mousemove_relative 60 -60
  sleep 0.3
  [ "$(geometry "$win")" = "$mx $my 300 180" ] || die "an instant click left a window move running: $(geometry "$win")"
done
xdotool key ctrl+alt+l
wait_window "Połączenie: Nebrin" 15 >/dev/null || die "no keys for the dialer after instant clicks"
note "6 instant clicks on the skin: no move, Ctrl+Alt+L still opens the log"
echo "PASS: keyboard walk ($(tr '\n' ';' <"$walk")); screenshot $shot"
