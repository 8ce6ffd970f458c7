#!/usr/bin/env bash
# A popup alarm while the main window has been away longer than the grace
# time (nebrin-web ended): nebrin-web starts for the popup alone and the
# popup window shows its page, which follows the window when it is resized.
. "$(dirname "$0")/lib.sh"
start_x
home=$(make_home)
export NEBRIN_WEB_HIDDEN_GRACE_MS=2000
use_sim_line "$home" nebrin-web
bindir=$BINDIR

# A popup at once when the line comes up, with a blue local page.
printf '<html><body style="margin:0;background:#00c000">online</body></html>' >"$home/online.html"
printf '<html><body style="margin:0;background:#0000e0">popup</body></html>' >"$home/popup.html"
start_popup_dialer "$home/online.html" "$home/popup.html"
key() { "$bindir/nebrin-theme" get "$home/skin/default.nbt" "$1" "$2"; }
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

# The popup window made larger: the page follows its area, down to the new
# bottom right corner above the button panel.
xdotool windowsize "$popup" 480 400
for ((i = 0; i < 40; i++)); do
  sleep 0.25
  import -window root "$shot" 2>/dev/null || die "no screenshot"
  IFS=, read -r r g b <<<"$(pixel "$shot" $((ppx - 40 + 470)) $((ppy - 40 + 350)))"
  [ "$b" -gt 150 ] && [ "$r" -lt 80 ] && [ "$g" -lt 80 ] && break
done
[ "$b" -gt 150 ] && [ "$r" -lt 80 ] && [ "$g" -lt 80 ] ||
  die "the page did not follow the popup's new size ($r,$g,$b); see $shot"
kill -0 "$pid" || die "the program ended"
rasdial Nebrin /disconnect >/dev/null
echo "PASS: the popup alarm while minimised started nebrin-web for the popup, its page follows a resize; screenshot $shot"
