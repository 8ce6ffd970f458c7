#!/usr/bin/env bash
# Fifty starts of one program folder at the same moment leave exactly one
# copy running with one window; every other start ends by itself with 0.
# After the running copy is killed with SIGKILL the next start takes over at
# once: it holds the instance lock within a second and shows its window.
. "$(dirname "$0")/lib.sh"
STARTS=50
start_x
home=$(make_home)

# The nebrin processes of this folder (their helpers have other names).
copies() {
  local d
  for d in /proc/[0-9]*; do
    [ "$(cat "$d/comm" 2>/dev/null)" = nebrin ] || continue
    tr '\0' '\n' <"$d/environ" 2>/dev/null | grep -qxF "NEBRIN_HOME=$home" && echo "${d#/proc/}"
  done
}

# Seconds from $1 to now, two decimals.
since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }'; }
ready() { if [ -f "$WORK/ready" ]; then wc -l <"$WORK/ready"; else echo 0; fi; }

# All starts wait on one gate and pass it together.
gate="$WORK/gate"
mkfifo "$gate"
pids=()
for ((i = 0; i < STARTS; i++)); do
  (
    exec 3<"$gate"
    echo >>"$WORK/ready"
    read -r _ <&3
    exec 3<&-
    NEBRIN_HOME="$home" exec "$NEBRIN_BIN"
  ) >>"$WORK/nebrin.log" 2>&1 &
  pids+=($!)
  PIDS+=($!)
done
exec 9>"$gate"
for ((i = 0; i < 200; i++)); do
  [ "$(ready)" -ge "$STARTS" ] && break
  sleep 0.05
done
[ "$(ready)" -ge "$STARTS" ] || die "not every start reached the gate"
t0=$(date +%s.%N)
exec 9>&-

# All but one end by themselves.
running=$STARTS
for ((i = 0; i < 200 && running > 1; i++)); do
  sleep 0.2
  running=0
  for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null && running=$((running + 1)); done
done
[ "$running" = 1 ] || die "$running of $STARTS starts still running after 40 s; log: $(tail -20 "$WORK/nebrin.log")"
survivor=
for p in "${pids[@]}"; do
  if kill -0 "$p" 2>/dev/null; then
    survivor=$p
    continue
  fi
  wait "$p"
  code=$?
  [ "$code" = 0 ] || die "a start that gave way ended with $code"
done
settled=$(since "$t0")
wait_window Nebrin 30 >/dev/null || die "no main window; log: $(tail -20 "$WORK/nebrin.log")"
sleep 1
[ "$(copies)" = "$survivor" ] || die "nebrin processes of the folder: $(copies | tr '\n' ' '), expected $survivor"
[ "$(windows_named Nebrin | wc -l)" = 1 ] || die "$(windows_named Nebrin | wc -l) main windows, expected 1"

# SIGKILL: no clean-up runs, the lock and socket files stay behind.
lock=$(ls "$XDG_RUNTIME_DIR"/nebrin-*.lock)
[ -f "$lock" ] || die "no lock file in $XDG_RUNTIME_DIR"
kill -KILL "$survivor"
wait "$survivor" 2>/dev/null
start_nebrin "$home"
next=$LAST_PID
t1=$(date +%s.%N)

# The new start holds the lock within a second or two on a busy machine (the
# kernel's lock table names the holder of the lock file's inode).
inode=$(stat -c %i "$lock")
holds_lock() { grep -Eq "FLOCK +ADVISORY +WRITE +$1 +[0-9a-f]+:[0-9a-f]+:$inode " /proc/locks; }
took=
for ((i = 0; i < 200; i++)); do
  if holds_lock "$next"; then
    took=$(since "$t1")
    break
  fi
  sleep 0.01
done
[ -n "$took" ] || die "the start after SIGKILL does not hold the lock after 2 s"
wait_window Nebrin 30 >/dev/null || die "no window after SIGKILL; log: $(tail -20 "$WORK/nebrin.log")"
kill -0 "$next" 2>/dev/null || die "the start after SIGKILL ended"
[ "$(copies)" = "$next" ] || die "nebrin processes after SIGKILL: $(copies | tr '\n' ' ')"
[ "$(windows_named Nebrin | wc -l)" = 1 ] || die "$(windows_named Nebrin | wc -l) main windows after SIGKILL"
echo "PASS: $STARTS simultaneous starts left one copy ($settled s to settle, all others exited 0);" \
  "after SIGKILL the next start held the lock in $took s and showed its window"
