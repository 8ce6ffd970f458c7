#!/usr/bin/env bash
# The page read for screen readers comes from nebrin-web, which the dialer
# trusts less: a stand-in (untrusted_web.py) sends a good page, then pages
# that break the rules, then a good one. The tree keeps the good page while
# the bad ones come (each refused with a warning), takes the next good one,
# and a link pressed through its action reaches nebrin-web as the view, the
# page's generation and the link's place in it.
. "$(dirname "$0")/lib.sh"
need openbox
start_x
export UNTRUSTED_WEB_LOG="$WORK/untrusted.log"
export NEBRIN_WEB_PROGRAM="$(cd "$(dirname "$0")" && pwd)/untrusted_web.py"
export HOME="$WORK"
start_a11y
start_wm openbox --sm-disable
start_sim_dialer
wait_log() {
  local i
  for ((i = 0; i < $2 * 5; i++)); do
    grep -qx "$1" "$UNTRUSTED_WEB_LOG" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}

probe page Nebrin "Dobra strona Dalej" 30 >/dev/null || die "the good page is not read; log: $(cat "$WORK/nebrin.log")"
probe follow "Dalej" || die "no link"
wait_log "follow 0 1 1" 20 || die "the link did not reach nebrin-web as view 0, generation 1, place 1"
wait_log "bad-sent" 20 || die "the stand-in sent no bad pages"
for ((i = 0; i < 50; i++)); do
  refused=$(grep -c "nebrin-web sent a page" "$WORK/nebrin.log")
  [ "$refused" -ge 7 ] && break
  sleep 0.2
done
[ "$refused" = 7 ] || die "$refused of 7 bad pages refused with a warning: $(grep nebrin-web "$WORK/nebrin.log")"
probe page Nebrin "Dobra strona Dalej" 1 >"$WORK/page.txt" || die "a bad page replaced the good one"
grep -q "^link 'Dalej'" "$WORK/page.txt" || die "the good page's link is gone: $(cat "$WORK/page.txt")"
# The stream goes on: the next good page is read, its link is followed by
# its own generation.
wait_log "good-sent" 20 || die "the stand-in sent no second page"
probe page Nebrin "Nowa strona Dalej" 20 >/dev/null || die "the good page after the bad ones is not read"
probe follow "Dalej" || die "no link on the new page"
wait_log "follow 0 9 1" 20 || die "the new page's link did not reach nebrin-web as generation 9"
kill -0 "$pid" || die "the program ended"
echo "PASS: bad pages from nebrin-web refused whole, the good one kept, links followed by view, generation and place"
