#!/usr/bin/env bash
# A popup alarm while the main window has been away longer than the grace
# time (nebrin-web ended): nebrin-web starts for the popup alone and the
# popup window shows its page.
. "$(dirname "$0")/lib.sh"
start_x
home=$(make_home)
export NEBRIN_RAS=sim NEBRIN_WEB_HIDDEN_GRACE_MS=2000
bindir=$(dirname "$NEBRIN_BIN")
rasdial() { NEBRIN_HOME="$home" "$bindir/nebrin-rasdial" "$@"; }
for f in librasapi-sim.so nebrin-rasdial nebrin-theme nebrin-web; do
  [ -e "$bindir/$f" ] || { echo "SKIP: $f is not built"; exit 77; }
done

# A popup at once when the line comes up, with a blue local page.
cp -r "$(dirname "$0")/../../theme/default" "$WORK/theme"
rm -rf "$WORK/theme/generator" "$WORK/theme/CMakeLists.txt" "$WORK/theme/README.md"
sed -i -e "s|^OnlineURL=.*|OnlineURL=file://$home/online.html|" -e "s|^EnablePopup=.*|EnablePopup=yes|" \
  -e "s|^PopupTimer=.*|PopupTimer=0|" -e "s|^PopupURL=.*|PopupURL=file://$home/popup.html|" \
  "$WORK/theme/00-settings.ini"
"$bindir/nebrin-theme" pack "$WORK/theme" "$home/skin/default.nbt" >/dev/null || die "cannot pack the theme"
printf '<html><body style="margin:0;background:#00c000">online</body></html>' >"$home/online.html"
printf '<html><body style="margin:0;background:#0000e0">popup</body></html>' >"$home/popup.html"
printf '[Line]\nOutcome=connected\nStepDelay=50\n' >"$home/simline.ini"
rasdial Nebrin /create usluga jan tajne1 >/dev/null || die "cannot create the entry"

start_nebrin "$home"
pid=$LAST_PID
win=$(wait_window Nebrin 30) || die "no main window; log: $(cat "$WORK/nebrin.log")"
geo=$(xwininfo -id "$win")
x=$(awk '/Absolute upper-left X/ {print $4}' <<<"$geo")
y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$geo")
key() { "$bindir/nebrin-theme" get "$home/skin/default.nbt" "$1" "$2"; }
web() { pgrep -P "$pid" -x nebrin-web; }
wait_web() {
  local i
  for ((i = 0; i < $2 * 5; i++)); do
    if [ -n "$(web)" ]; then [ "$1" = yes ] && return 0; else [ "$1" = no ] && return 0; fi
    sleep 0.2
  done
  return 1
}
wait_web yes 20 || die "no nebrin-web; log: $(cat "$WORK/nebrin.log")"
sleep 1
xdotool mousemove $((x + $(key MinimizeButton MinBtnLeft) + 5)) $((y + $(key MinimizeButton MinBtnTop) + 5)) click 1
wait_web no 20 || die "nebrin-web still runs with the window minimised"

# The line comes up from outside; the dialer sees it, and the alarm fires.
rasdial Nebrin jan tajne1 >/dev/null || die "cannot dial"
popup=$(wait_window Informacja 60) || die "no popup window; log: $(cat "$WORK/nebrin.log")"
[ -n "$(web)" ] || die "the popup shows without nebrin-web"
sleep 1
shot="$E2E_OUT/web_popup.png"
import -window root "$shot" || die "no screenshot"
pgeo=$(xwininfo -id "$popup")
ppx=$(($(awk '/Absolute upper-left X/ {print $4}' <<<"$pgeo") + 40))
ppy=$(($(awk '/Absolute upper-left Y/ {print $4}' <<<"$pgeo") + 40))
IFS=, read -r r g b <<<"$(pixel "$shot" "$ppx" "$ppy")"
[ "$b" -gt 150 ] && [ "$r" -lt 80 ] && [ "$g" -lt 80 ] || die "the popup does not show its page ($r,$g,$b); see $shot"
xwininfo -children -id "$win" | grep -q '"nebrin-web"' && die "the pane came back with the popup alone"
kill -0 "$pid" || die "the program ended"
rasdial Nebrin /disconnect >/dev/null
echo "PASS: the popup alarm while minimised started nebrin-web for the popup; screenshot $shot"
