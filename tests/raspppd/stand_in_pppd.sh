#!/bin/bash
# A stand-in for pppd in the tests. It takes pppd's command line as the
# dialer gives it ("call NAME nodetach"), reads the peer file from
# NEBRIN_PPP_PEERS, writes pppd's link pid file ("ppp-LINKNAME.pid") and
# interface pid file ("IFNAME.pid") in the first NEBRIN_PPP_RUNDIR folder,
# prints pppd's messages on standard output and ends with pppd's exit
# statuses: 5 on SIGTERM, SIGINT or SIGHUP, 15 when the line drops.
#
# FAKE_PPPD_SCRIPT lists its steps, separated by ';':
#   say TEXT                 print a log line
#   up IF INDEX RX TX        the interface appears in NEBRIN_SYSFS_NET (up,
#                            with that index and byte counters)
#   hold                     stay connected until a signal; SIGUSR1 makes the
#                            line drop (echo requests unanswered)
#   exit N                   end with status N
# FAKE_PPPD_ARGS, when set, names a file that receives the command line.
set -u
log() { printf '%s\n' "$*"; }

if [ $# -ne 3 ] || [ "$1" != call ] || [ "$3" != nodetach ]; then
  log "pppd: unrecognized command line: $*"
  exit 2
fi
name=$2
peer=${NEBRIN_PPP_PEERS:-/etc/ppp/peers}/$name
if [ ! -r "$peer" ]; then
  log "/usr/sbin/pppd: Can't open options file $peer: No such file or directory"
  exit 2
fi
[ -n "${FAKE_PPPD_ARGS:-}" ] && printf '%s\n' "$*" >> "$FAKE_PPPD_ARGS"

rundir=${NEBRIN_PPP_RUNDIR%%:*}
sysnet=${NEBRIN_SYSFS_NET}
linkname=$(sed -n 's/^linkname "\([^"]*\)"$/\1/p' "$peer")
iface=
sleeper=

[ -n "$linkname" ] && printf '%s\n' $$ > "$rundir/ppp-$linkname.pid"

cleanup() {
  [ -n "$sleeper" ] && kill "$sleeper" 2>/dev/null
  if [ -n "$iface" ]; then rm -rf "${sysnet:?}/$iface"; rm -f "$rundir/$iface.pid"; fi
  [ -n "$linkname" ] && rm -f "$rundir/ppp-$linkname.pid"
}
terminate() {
  log "Terminating on signal $1."
  log "Connection terminated."
  cleanup
  exit 5
}
drop() {
  log "No response to 3 echo-requests"
  log "Serial link appears to be disconnected."
  log "Connection terminated."
  cleanup
  exit 15
}
trap 'terminate 15' TERM
trap 'terminate 2' INT
trap 'terminate 1' HUP
trap 'drop' USR1

IFS=';' read -ra steps <<< "${FAKE_PPPD_SCRIPT:-}"
for step in "${steps[@]}"; do
  cmd=${step%% *}
  rest=${step#"$cmd"}
  rest=${rest# }
  case $cmd in
    say) log "$rest" ;;
    up)
      read -r ifn index rx tx <<< "$rest"
      iface=$ifn
      d=$sysnet/$ifn
      mkdir -p "$d/statistics"
      echo 0x10d1 > "$d/flags"
      echo "$index" > "$d/ifindex"
      echo 512 > "$d/type"
      echo unknown > "$d/operstate"
      echo "$rx" > "$d/statistics/rx_bytes"
      echo "$tx" > "$d/statistics/tx_bytes"
      echo 0 > "$d/statistics/rx_packets"
      echo 0 > "$d/statistics/tx_packets"
      printf '%s\n' $$ > "$rundir/$ifn.pid"
      [ -n "$linkname" ] && printf '%s\n%s\n' $$ "$ifn" > "$rundir/ppp-$linkname.pid"
      ;;
    hold)
      while :; do
        sleep 5 > /dev/null 2>&1 < /dev/null &
        sleeper=$!
        wait "$sleeper"
      done
      ;;
    exit)
      cleanup
      exit "$rest"
      ;;
  esac
done
cleanup
exit 0
