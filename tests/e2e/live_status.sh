#!/usr/bin/env bash
# Live status on the simulated line: OnOff dials; the next tick shows the
# online look, the online page and moving speeds; the line drops by itself
# (DropAfter): within a tick the offline look and page and "0 Kb/s"; about a
# second later the program dials again and comes back online.
. "$(dirname "$0")/lib.sh"
start_x
home=$(make_home)
export NEBRIN_RAS=sim
bindir=$(dirname "$NEBRIN_BIN")
rasdial() { NEBRIN_HOME="$home" "$bindir/nebrin-rasdial" "$@"; }
for f in librasapi-sim.so nebrin-rasdial nebrin-theme; do
  [ -e "$bindir/$f" ] || { echo "SKIP: $f is not built"; exit 77; }
done

# The default theme with a local online page (the provider's is not reachable
# here), so the two pages can be told apart on the screen.
cp -r "$(dirname "$0")/../../theme/default" "$WORK/theme"
rm -rf "$WORK/theme/generator" "$WORK/theme/CMakeLists.txt" "$WORK/theme/README.md"
sed -i "s|^OnlineURL=.*|OnlineURL=file://$home/online.html|" "$WORK/theme/00-settings.ini"
"$bindir/nebrin-theme" pack "$WORK/theme" "$home/skin/default.nbt" >/dev/null || die "cannot pack the theme"
printf '<html><body style="margin:0;background:#00c000;border:8px solid red">online</body></html>' >"$home/online.html"

# The entry exists; the first connection drops after 10 s.
printf '[Line]\nOutcome=connected\nStepDelay=50\nDropAfter=10\n' >"$home/simline.ini"
rasdial Nebrin /create usluga jan tajne1 >/dev/null || die "cannot create the entry"

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
key() { "$bindir/nebrin-theme" get "$home/skin/default.nbt" "$1" "$2"; }
# A point inside the web pane, and the speed panel's area.
px=$((x + $(key WebBrowser BWLeft) + 20))
py=$((y + $(key WebBrowser BWTop) + 20))
sx=$((x + $(key DLULSppedMeter SMLeft)))
sy=$((y + $(key DLULSppedMeter SMTop)))
pane() { pixel "$1" "$px" "$py"; }
speeds() { convert "$1" -crop "60x20+$sx+$sy" +repage -format "%#" info:; }
is_green() { IFS=, read -r r g b <<<"$1"; [ "$g" -gt 150 ] && [ "$r" -lt 80 ] && [ "$b" -lt 80 ]; }
# Takes screenshots into $1 until the pane shows the online page ($2 = yes)
# or not ($2 = no), for at most $3 seconds.
wait_pane() {
  local i
  for ((i = 0; i < $3 * 4; i++)); do
    import -window root "$1" 2>/dev/null || die "no screenshot"
    if is_green "$(pane "$1")"; then [ "$2" = yes ] && return 0; else [ "$2" = no ] && return 0; fi
    sleep 0.25
  done
  return 1
}

import -window root "$E2E_OUT/live_offline.png"
is_green "$(pane "$E2E_OUT/live_offline.png")" && die "the online page shows before any connection"

# OnOff (its middle).
xdotool mousemove $((x + $(key OnOff OnOffLeft) + 18)) $((y + $(key OnOff OnOffTop) + 18)) click 1
wait_pane "$E2E_OUT/live_online.png" yes 15 || die "no online page after dialling; log: $(cat "$WORK/nebrin.log")"
[ "$(rasdial)" = Nebrin ] || die "the line does not list the connection"
# The redial must stay up: the script is read at the next dial.
printf '[Line]\nOutcome=connected\nStepDelay=400\nDropAfter=0\n' >"$home/simline.ini"

# The speeds move: the speed panel differs from one second to the next.
sleep 2.2
import -window root "$E2E_OUT/live_speeds1.png"
sleep 1.1
import -window root "$E2E_OUT/live_speeds2.png"
[ "$(speeds "$E2E_OUT/live_speeds1.png")" != "$(speeds "$E2E_OUT/live_speeds2.png")" ] ||
  die "the speeds do not move; see $E2E_OUT/live_speeds1.png"

# The drop (10 s after connecting): offline look and page.
for ((i = 0; i < 60; i++)); do
  [ -z "$(rasdial)" ] && break
  sleep 0.2
done
[ -z "$(rasdial)" ] || die "the line did not drop"
wait_pane "$E2E_OUT/live_dropped.png" no 3 || die "still online after the drop; see $E2E_OUT/live_dropped.png"

# The redial: the line lists a connection again and the window comes back
# online.
for ((i = 0; i < 50; i++)); do
  [ "$(rasdial)" = Nebrin ] && break
  sleep 0.2
done
[ "$(rasdial)" = Nebrin ] || die "no redial after the drop"
wait_pane "$E2E_OUT/live_redialled.png" yes 15 || die "not online again after the redial"
kill -0 "$pid" || die "the program ended"
echo "PASS: online, moving speeds, dropped, redialled; screenshots $E2E_OUT/live_*.png"
