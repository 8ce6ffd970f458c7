#!/usr/bin/env bash
# As root (and not told it is a test) the program starts no web engine, in
# nebrin-web or in its own process: the pane stays empty, one log line says
# why, and the rest works (a dial on the simulated line).
. "$(dirname "$0")/lib.sh"
[ "$(id -u)" = 0 ] || { echo "SKIP: needs root"; exit 77; }
unset NEBRIN_TEST_WEB_AS_ROOT
start_x
start_sim_dialer
read -r x y <<<"$(window_xy "$win")"
for ((i = 0; i < 50; i++)); do
  grep -q "Strony dostawcy nie są wyświetlane: program działa jako root." "$WORK/nebrin.log" && break
  sleep 0.2
done
grep -q "Strony dostawcy nie są wyświetlane: program działa jako root." "$WORK/nebrin.log" ||
  die "no log line about root; log: $(cat "$WORK/nebrin.log")"
[ "$(grep -c "Strony dostawcy" "$WORK/nebrin.log")" = 1 ] || die "more than one line: $(cat "$WORK/nebrin.log")"

# The line works: OnOff dials the entry.
xdotool mousemove $((x + 30)) $((y + 158)) click 1
for ((i = 0; i < 50; i++)); do
  [ "$(rasdial)" = Nebrin ] && break
  sleep 0.2
done
[ "$(rasdial)" = Nebrin ] || die "the dial did not connect; log: $(cat "$WORK/nebrin.log")"
sleep 3
shot="$E2E_OUT/web_as_root.png"
import -window root "$shot" || die "no screenshot"
# Neither nebrin-web nor an engine process of the program's own, then or
# after the window was shown again.
xdotool windowminimize "$win" 2>/dev/null || true
sleep 1
xdotool windowmap "$win" 2>/dev/null || true
sleep 2
# (Other programs on the machine may run engines of their own: only the
# program's own descendants count.)
descendants() {
  local c
  for c in $(pgrep -P "$1"); do
    echo "$c"
    descendants "$c"
  done
}
for c in $(descendants "$pid"); do
  cmd=$(tr '\0' ' ' <"/proc/$c/cmdline" 2>/dev/null)
  case "$cmd" in
    *nebrin-web* | *QtWebEngineProcess*) die "a web engine process runs as root: $c $cmd" ;;
  esac
done
grep -q "nebrin-web\|libnebrin-web" /proc/"$pid"/maps && die "the web module is loaded into the program"
kill -0 "$pid" || die "the program ended"
rasdial Nebrin /disconnect >/dev/null
echo "PASS: no web engine as root, one log line, the line works; screenshot $shot"
