#!/usr/bin/env bash
# The settings dialog's OK while the line takes its time to write the entry
# (as when its privileged helper waits for a lock) and then refuses it as
# busy: the window stays usable meanwhile (the info button opens the
# information window at once), and the refusal is shown when it comes.
. "$(dirname "$0")/lib.sh"
start_x
home=$(make_home)
use_sim_line "$home"
printf '[Line]\nOutcome=connected\nStepDelay=50\nWriteDelay=8000\nWriteOutcome=170\n' >"$home/simline.ini"
start_nebrin "$home"
pid=$LAST_PID
win=$(wait_window Nebrin 30) || die "no main window; log: $(cat "$WORK/nebrin.log")"
read -r x y <<<"$(window_xy "$win")"
wait_ready 30 || die "no offline page; log: $(cat "$WORK/nebrin.log")"

# OnOff: no entry and no user.ini, so the settings dialog comes up.
xdotool mousemove $((x + 30)) $((y + 158)) click 1
dlg=$(wait_window "Konfiguracja połączenia" 15) || die "no settings dialog after OnOff"
xdotool windowfocus --sync "$dlg" 2>/dev/null || true
sleep 0.5
xdotool type --delay 20 "jan"
xdotool key Tab
xdotool type --delay 20 "tajne1"
xdotool key Tab
xdotool type --delay 20 "tajne1"
xdotool key Tab
xdotool type --delay 20 "usluga"
xdotool key Return
t0=$(date +%s%N)
for ((i = 0; i < 25; i++)); do
  [ -z "$(windows_named "Konfiguracja połączenia")" ] && break
  sleep 0.2
done
[ -z "$(windows_named "Konfiguracja połączenia")" ] || die "the settings dialog waited for the line"

# The write takes 8 s; meanwhile the info button (default theme: 24 x 24 at
# 236, 146) opens the information window.
xdotool mousemove $((x + 248)) $((y + 158)) click 1
info=$(wait_window Informacja 5) || die "the window did not answer while the entry was written"
t1=$(date +%s%N)
opened_ms=$(((t1 - t0) / 1000000))
[ "$opened_ms" -lt 6000 ] || die "the information window took $opened_ms ms"
import -window root "$E2E_OUT/settings_busy_info.png" || die "no screenshot"
xdotool windowfocus --sync "$info" 2>/dev/null || true
xdotool key Escape
sleep 0.5

# The refusal comes when the write ends: a message box with the dialog's
# title (not the dialog: its size differs).
box=
for ((i = 0; i < 100; i++)); do
  for w in $(windows_named "Konfiguracja połączenia"); do
    [ "$(geometry "$w" | awk '{print $3 "x" $4}')" != 339x360 ] && box=$w
  done
  [ -n "$box" ] && break
  sleep 0.2
done
[ -n "$box" ] || die "no message about the refused entry; log: $(cat "$WORK/nebrin.log")"
t2=$(date +%s%N)
shot="$E2E_OUT/settings_busy_message.png"
import -window root "$shot" || die "no screenshot"
[ $(((t2 - t0) / 1000000)) -ge 7000 ] || die "the message came before the write ended"
# Nothing was dialled: the entry was never written.
[ -z "$(rasdial)" ] || die "a connection was made"
kill -0 "$pid" || die "the program ended"
echo "PASS: the window answered after $opened_ms ms while the entry was written; the refusal came; screenshots $shot"
