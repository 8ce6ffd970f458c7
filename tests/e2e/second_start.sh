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
echo "PASS: second start exited 0, first still running"
