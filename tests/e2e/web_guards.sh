#!/usr/bin/env bash
# The guards of the pages inside nebrin-web: in the pane and in the popup, a
# click on a link to a desktop handler's scheme (and the same tried by the
# page's script) starts nothing and leaves the page where it is, and a local
# page reads its own folder but nothing outside it. Stand-ins for xdg-open
# and the desktop's other openers on PATH log every start.
. "$(dirname "$0")/lib.sh"
start_x
home=$(make_home)
use_sim_line "$home" nebrin-web
bindir=$BINDIR

mkdir -p "$WORK/openers"
for name in xdg-open gio kde-open kde-open5 gnome-open exo-open; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$name" "$WORK/opened.log" >"$WORK/openers/$name"
  chmod 755 "$WORK/openers/$name"
done
export PATH="$WORK/openers:$PATH"

# One page for both views: the whole page is a link to an unknown scheme;
# once its reads are done it is green when it read its own file and neither
# file outside its folder (red otherwise), then it tries the scheme by
# script as well. A click on it turns the green to cyan.
mkdir -p "$home/pages"
printf 'OWN' >"$home/pages/own.txt"
printf 'SECRET' >"$home/secret.txt"
page='<html><body style="margin:0;background:#808080">
<a href="nebrin-test-handler:run" style="display:block;width:100%;height:2000px"></a>
<script>
function get(u) {
  return new Promise(done => {
    const x = new XMLHttpRequest();
    x.onload = () => done(x.responseText);
    x.onerror = () => done("blocked");
    try { x.open("GET", u); x.send(); } catch (e) { done("blocked"); }
  });
}
Promise.all([get("own.txt"), get("../secret.txt"), get("'"file://$home/secret.txt"'")]).then(([own, up, abs]) => {
  const held = own === "OWN" && up === "blocked" && abs === "blocked";
  document.body.style.background = held ? "#00c000" : "#c00000";
  // A click that reached the page turns it from green to cyan.
  if (held) document.addEventListener("click", () => document.body.style.background = "#00c0c0", true);
  setTimeout(() => { location.href = "nebrin-test-handler:script"; window.open("nebrin-test-handler:open"); }, 300);
});
</script></body></html>'
printf '%s' "$page" >"$home/pages/online.html"
printf '%s' "$page" >"$home/pages/popup.html"

start_popup_dialer "$home/pages/online.html" "$home/pages/popup.html"
key() { "$bindir/nebrin-theme" get "$home/skin/default.nbt" "$1" "$2"; }

# The line comes up: the online page in the pane, the popup with its page.
rasdial Nebrin jan tajne1 >/dev/null || die "cannot dial"
popup=$(wait_window Informacja 60) || die "no popup window; log: $(cat "$WORK/nebrin.log")"
read -r qx qy <<<"$(window_xy "$popup")"

shot="$E2E_OUT/web_guards.png"
colour_at() {
  import -window root "$shot" 2>/dev/null || die "no screenshot"
  pixel "$shot" "$1" "$2"
}
# Waits up to 40 s for the page's verdict at x,y: green, or a failure.
wait_verdict() {
  local i r g b
  for ((i = 0; i < 160; i++)); do
    IFS=, read -r r g b <<<"$(colour_at "$2" "$3")"
    [ "$g" -gt 150 ] && [ "$r" -lt 80 ] && [ "$b" -lt 80 ] && return 0
    [ "$r" -gt 150 ] && [ "$g" -lt 80 ] && die "$1: the page read a file outside its folder; see $shot"
    sleep 0.25
  done
  die "$1: no page, or its reads never ended ($r,$g,$b); see $shot"
}

for view in pane popup; do
  if [ $view = pane ]; then
    vx=$((x + $(key WebBrowser BWLeft) + 20))
    vy=$((y + $(key WebBrowser BWTop) + 20))
  else
    vx=$((qx + 40))
    vy=$((qy + 40))
  fi
  wait_verdict "$view" "$vx" "$vy"
  xdotool mousemove "$vx" "$vy" click 1
  sleep 2
  [ -s "$WORK/opened.log" ] && die "$view: a handler was started: $(cat "$WORK/opened.log")"
  IFS=, read -r r g b <<<"$(colour_at "$vx" "$vy")"
  [ "$g" -gt 150 ] && [ "$r" -lt 80 ] && [ "$b" -gt 150 ] ||
    die "$view: the click did not reach the page, or the page did not stay ($r,$g,$b); see $shot"
done

[ -n "$(web)" ] || die "nebrin-web is gone"
kill -0 "$pid" || die "the program ended"
rasdial Nebrin /disconnect >/dev/null
echo "PASS: inside nebrin-web, links and scripts to unknown schemes start nothing and local pages keep to their folder; screenshot $shot"
