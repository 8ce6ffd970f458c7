#!/usr/bin/env bash
# A nebrin-web that floods the dialer with heartbeats: its messages beyond
# the budget are left unread, and it is restarted as a hung one (one log
# line each time) while the window stays up.
. "$(dirname "$0")/lib.sh"
need python3
start_x
home=$(make_home)
export NEBRIN_WEB_PROGRAM="$(cd "$(dirname "$0")" && pwd)/flooding_web.py"
start_nebrin "$home"
pid=$LAST_PID
win=$(wait_window Nebrin 30) || die "no main window; log: $(cat "$WORK/nebrin.log")"
hung="Okno przeglądarki przestało odpowiadać"
for ((i = 0; i < 100; i++)); do
  grep -q "$hung" "$WORK/nebrin.log" && break
  sleep 0.2
done
grep -q "$hung" "$WORK/nebrin.log" || die "the flooding nebrin-web was not restarted; log: $(cat "$WORK/nebrin.log")"
# A new one runs in its place.
for ((i = 0; i < 25; i++)); do
  [ -n "$(pgrep -P "$pid" -f flooding_web.py)" ] && break
  sleep 0.2
done
[ -n "$(pgrep -P "$pid" -f flooding_web.py)" ] || die "no new nebrin-web after the restart"
kill -0 "$pid" || die "the program ended"
[ -n "$(windows_named Nebrin)" ] || die "the main window is gone"
echo "PASS: the flooding nebrin-web was restarted as a hung one"
