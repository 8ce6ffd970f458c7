#!/usr/bin/env bash
# nebrin-web, the web engine's own process, on a line connected before the
# start: the pane inside the main window shows the online page; kill -9 of
# nebrin-web leaves the line and the window up and brings the pane back, with
# one log line; minimised longer than the grace time (shortened here) it is
# gone; shown again, it comes back with the online page.
. "$(dirname "$0")/lib.sh"
start_x
home=$(make_home)
export NEBRIN_WEB_HIDDEN_GRACE_MS=3000
use_sim_line "$home" nebrin-web
bindir=$BINDIR

# A local online page, told apart on the screen by its green.
pack_theme "s|^OnlineURL=.*|OnlineURL=file://$home/online.html|"
printf '<html><body style="margin:0;background:#00c000">online</body></html>' >"$home/online.html"
printf '[Line]\nOutcome=connected\nStepDelay=50\n' >"$home/simline.ini"
rasdial Nebrin /create usluga jan tajne1 >/dev/null || die "cannot create the entry"
rasdial Nebrin jan tajne1 >/dev/null || die "cannot dial"

start_nebrin "$home"
pid=$LAST_PID
win=$(wait_window Nebrin 30) || die "no main window; log: $(cat "$WORK/nebrin.log")"
read -r x y <<<"$(window_xy "$win")"
key() { "$bindir/nebrin-theme" get "$home/skin/default.nbt" "$1" "$2"; }
px=$((x + $(key WebBrowser BWLeft) + 20))
py=$((y + $(key WebBrowser BWTop) + 20))
is_green() { IFS=, read -r r g b <<<"$1"; [ "$g" -gt 150 ] && [ "$r" -lt 80 ] && [ "$b" -lt 80 ]; }
# Waits up to $2 seconds for the online page in the pane; screenshot in $1.
wait_online() {
  local i
  for ((i = 0; i < $2 * 4; i++)); do
    import -window root "$1" 2>/dev/null || die "no screenshot"
    is_green "$(pixel "$1" "$px" "$py")" && return 0
    sleep 0.25
  done
  return 1
}

wait_web yes 20 || die "no nebrin-web; log: $(cat "$WORK/nebrin.log")"
wait_online "$E2E_OUT/web_online.png" 40 || die "no online page in the pane; see $E2E_OUT/web_online.png"
# The pane is nebrin-web's window inside the main window.
xwininfo -children -id "$win" | grep -q '"nebrin-web"' || die "nebrin-web's window is not inside the main window"
# It draws without OpenGL: no GL driver (Mesa's, with its LLVM) in its memory.
gl=$(grep -oE '[^/ ]*(_dri\.so|libLLVM[^ ]*|libGLX_mesa[^ ]*)' "/proc/$(web)/maps" | sort -u | tr '\n' ' ')
[ -z "$gl" ] || die "nebrin-web loaded a GL driver: $gl"

# Right clicks stay out of the page there too: no menu window comes up.
menus() { xdotool search --onlyvisible --class nebrin-web 2>/dev/null | wc -l; }
before=$(menus)
xdotool mousemove "$px" "$py" click 3
sleep 1
[ "$(menus)" = "$before" ] || die "a right click opened a menu in nebrin-web"

first=$(web)
kill -9 "$first"
for ((i = 0; i < 75; i++)); do
  now=$(web)
  [ -n "$now" ] && [ "$now" != "$first" ] && break
  sleep 0.2
done
[ -n "$now" ] && [ "$now" != "$first" ] || die "nebrin-web was not restarted; log: $(cat "$WORK/nebrin.log")"
wait_online "$E2E_OUT/web_restarted.png" 40 || die "no online page after the restart; see $E2E_OUT/web_restarted.png"
kill -0 "$pid" || die "the program ended with nebrin-web"
[ "$(rasdial)" = Nebrin ] || die "the line went down with nebrin-web"
lines=$(grep -c "Okno przeglądarki" "$WORK/nebrin.log")
[ "$lines" = 1 ] || die "$lines log lines for one crash; log: $(cat "$WORK/nebrin.log")"

# Minimised (no notification area here) for longer than the grace time.
xdotool mousemove $((x + $(key MinimizeButton MinBtnLeft) + 5)) $((y + $(key MinimizeButton MinBtnTop) + 5)) click 1
wait_web no 20 || die "nebrin-web still runs with the window minimised"
# A second start brings the window back, and with it the pane.
NEBRIN_HOME="$home" "$NEBRIN_BIN" >>"$WORK/second.log" 2>&1 || die "the second start failed"
wait_web yes 20 || die "no nebrin-web after showing the window again"
wait_online "$E2E_OUT/web_shown.png" 40 || die "no online page after showing again; see $E2E_OUT/web_shown.png"
[ "$(rasdial)" = Nebrin ] || die "the line went down"
kill -0 "$pid" || die "the program ended"
rasdial Nebrin /disconnect >/dev/null
echo "PASS: online page in nebrin-web; restarted after kill -9; ended while minimised, back when shown"
