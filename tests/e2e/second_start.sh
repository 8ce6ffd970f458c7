#!/usr/bin/env bash
# A second start with the same program folder hands over to the first and
# ends with status 0; the first keeps running with its one window. Another
# folder is another identity and runs on its own.
. "$(dirname "$0")/lib.sh"
start_x
home=$(make_home)
start_nebrin "$home"
first=$LAST_PID
wait_window Nebrin 30 >/dev/null || die "no main window; log: $(cat "$WORK/nebrin.log")"

start_nebrin "$home"
second=$LAST_PID
wait_exit "$second" 15 || die "the second start is still running"
[ "$EXIT_CODE" = 0 ] || die "the second start ended with $EXIT_CODE"
sleep 1
kill -0 "$first" 2>/dev/null || die "the first instance ended"
count=$(windows_named Nebrin | wc -l)
[ "$count" = 1 ] || die "$count main windows, expected 1"

# A different folder is a different program copy.
other=$(make_home other)
start_nebrin "$other"
third=$LAST_PID
for ((i = 0; i < 150; i++)); do
  [ "$(windows_named Nebrin | wc -l)" = 2 ] && break
  sleep 0.2
done
[ "$(windows_named Nebrin | wc -l)" = 2 ] || die "the copy of another folder did not start"
kill -0 "$third" || die "the copy of another folder ended"

# A copy that crashes leaves no block behind.
kill -KILL "$first"
wait "$first" 2>/dev/null
# Its window goes when the X server has seen the connection close.
for ((i = 0; i < 50; i++)); do
  [ "$(windows_named Nebrin | wc -l)" = 1 ] && break
  sleep 0.1
done
start_nebrin "$home"
restarted=$LAST_PID
for ((i = 0; i < 150; i++)); do
  [ "$(windows_named Nebrin | wc -l)" = 2 ] && break
  sleep 0.2
done
[ "$(windows_named Nebrin | wc -l)" = 2 ] || die "no start after a crashed copy"
kill -0 "$restarted" || die "the start after a crashed copy ended"

# Two starts at the same moment: exactly one keeps running.
kill "$restarted" "$third"
wait "$restarted" "$third" 2>/dev/null
simul=$(make_home simul)
start_nebrin "$simul"; a=$LAST_PID
start_nebrin "$simul"; b=$LAST_PID
wait_window Nebrin 30 >/dev/null || die "no window after two simultaneous starts"
# The one that gave way ends by itself with status 0.
for ((i = 0; i < 100; i++)); do
  if ! kill -0 "$a" 2>/dev/null || ! kill -0 "$b" 2>/dev/null; then break; fi
  sleep 0.2
done
alive=0
for p in $a $b; do
  if kill -0 "$p" 2>/dev/null; then
    alive=$((alive + 1))
  else
    wait "$p"; code=$?
    [ "$code" = 0 ] || die "the start that gave way ended with $code"
  fi
done
[ "$alive" = 1 ] || die "$alive copies running after two simultaneous starts"
sleep 1
[ "$(windows_named Nebrin | wc -l)" = 1 ] || die "expected one window after two simultaneous starts"
echo "PASS: second start exited 0, first still running; crash leaves no block; one of two simultaneous starts"
