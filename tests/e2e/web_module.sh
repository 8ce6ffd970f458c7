#!/usr/bin/env bash
# The browser engine comes from the web module, loaded after the first paint
# where nebrin-web cannot run: the program links neither the engine nor Qt
# Network (that is the HTTP module's) itself, the module's pane shows the
# offline page in the same main window (not one made anew for the engine,
# which would vanish for a moment), and a program without its module still
# runs, without a pane.
. "$(dirname "$0")/lib.sh"
if ldd "$NEBRIN_BIN" | grep -q WebEngine; then die "the program links the web engine itself"; fi
if ldd "$NEBRIN_BIN" | grep -q Qt6Network; then die "the program links Qt Network itself"; fi
[ -f "$(dirname "$NEBRIN_BIN")/libnebrin-web.so" ] || die "no web module next to the program"

start_x
home=$(make_home)
NEBRIN_WEB_PROGRAM="$WORK/no-nebrin-web" NEBRIN_HOME="$home" NEBRIN_TRACE_FIRST_PAINT=1 "$NEBRIN_BIN" \
  >>"$WORK/nebrin.log" 2>&1 &
pid=$!
PIDS+=("$pid")
before=$(wait_window Nebrin 30) || die "no main window; log: $(cat "$WORK/nebrin.log")"
for ((i = 0; i < 300; i++)); do
  grep -q '^offline-page ' "$WORK/nebrin.log" && break
  sleep 0.2
done
grep -q 'runs in the program' "$WORK/nebrin.log" || die "the pane did not come from the module; log: $(cat "$WORK/nebrin.log")"
first=$(awk '/^first-paint / {print $2; exit}' "$WORK/nebrin.log")
page=$(awk '/^offline-page / {print $2; exit}' "$WORK/nebrin.log")
[ -n "$first" ] || die "no first paint reported; log: $(cat "$WORK/nebrin.log")"
[ -n "$page" ] || die "the offline page did not load in the pane; log: $(cat "$WORK/nebrin.log")"
awk -v f="$first" -v p="$page" 'BEGIN { exit !(f < p) }' || die "the page ($page ms) came before the first paint ($first ms)"
after=$(windows_named Nebrin | tr '\n' ' ')
[ "$after" = "$before " ] || die "the main window was made anew for the engine: $before before the page, $after after"
kill "$pid"
wait_exit "$pid" 15 || die "the program did not end"

# The program alone in a folder: no module anywhere it looks.
mkdir -p "$WORK/alone"
cp "$NEBRIN_BIN" "$WORK/alone/nebrin"
home=$(make_home home2)
NEBRIN_HOME="$home" "$WORK/alone/nebrin" >>"$WORK/alone.log" 2>&1 &
pid=$!
PIDS+=("$pid")
wait_window Nebrin 30 >/dev/null || die "no main window without the module; log: $(cat "$WORK/alone.log")"
for ((i = 0; i < 50; i++)); do
  grep -q 'no web pane' "$WORK/alone.log" && break
  sleep 0.2
done
grep -q 'no web pane' "$WORK/alone.log" || die "nothing said about the missing module; log: $(cat "$WORK/alone.log")"
sleep 1
kill -0 "$pid" 2>/dev/null || die "the program ended without its web module; log: $(cat "$WORK/alone.log")"
echo "PASS: first paint at $first ms, offline page at $page ms; runs without the module"
