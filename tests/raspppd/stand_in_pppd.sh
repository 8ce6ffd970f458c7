#!/bin/bash
# A stand-in for pppd in the tests. It takes pppd's command line as the
# dialer gives it ("[logfd 1] call NAME [logfd 1] [user USER passwordfd 3]
# nodetach"), reads the
# password from descriptor 3 as the passwordfd plugin does (every byte, up to
# the end) when the peer file loads that plugin, reads the peer file from
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
# FAKE_PPPD_LOGIN="USER:PASSWORD", when set, is what the access concentrator
# accepts: any other user or password bytes end the dial as a refused login
# (pppd's status 19) before its first step.
# FAKE_PPPD_TERM_SECONDS: how long pppd takes to end after a signal (a
# silent access concentrator), default 0.
# FAKE_PPPD_DOWN_SECONDS: how long its ip-down hooks then run, after its pid
# files are gone, default 0.
set -u
trap '' PIPE  # a log reader that went away does not end pppd
log() { printf '%s\n' "$*" 2>/dev/null; }

user= password= haspw=
all="$*"
# "logfd 1" may come before "call NAME" and after it; the log goes to
# standard output either way.
[ "${1:-}" = logfd ] && [ "${2:-}" = 1 ] && shift 2
[ "${1:-}" = call ] && [ $# -ge 2 ] && [ "${3:-}" = logfd ] && [ "${4:-}" = 1 ] && set -- "$1" "$2" "${@:5}"
if [ $# -eq 7 ] && [ "$1" = call ] && [ "$3" = user ] && [ "$5" = passwordfd ] && [ "$6" = 3 ] &&
   [ "$7" = nodetach ]; then
  user=$4
  haspw=1
elif [ $# -ne 3 ] || [ "$1" != call ] || [ "$3" != nodetach ]; then
  log "pppd: unrecognized command line: $all"
  exit 2
fi
name=$2
peer=${NEBRIN_PPP_PEERS:-/etc/ppp/peers}/$name
if [ ! -r "$peer" ]; then
  log "/usr/sbin/pppd: Can't open options file $peer: No such file or directory"
  exit 2
fi
if [ -n "$haspw" ]; then
  if ! grep -q '^plugin passwordfd.so$' "$peer"; then
    log "pppd: In file $peer: unrecognized option 'passwordfd'"
    exit 2
  fi
  # Every byte up to the end of the pipe, trailing line feeds included.
  password=$(cat <&3; printf x)
  password=${password%x}
  exec 3<&-
fi
[ -n "${FAKE_PPPD_ARGS:-}" ] && printf '%s\n' "$all" >> "$FAKE_PPPD_ARGS"

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
  [ -n "${FAKE_PPPD_TERM_SECONDS:-}" ] && sleep "$FAKE_PPPD_TERM_SECONDS"
  log "Connection terminated."
  # As pppd: the pid files go when the link has ended, then its ip-down
  # hooks run and it waits for them before it exits.
  [ -n "$linkname" ] && rm -f "$rundir/ppp-$linkname.pid"
  [ -n "$iface" ] && rm -f "$rundir/$iface.pid"
  [ -n "${FAKE_PPPD_DOWN_SECONDS:-}" ] && sleep "$FAKE_PPPD_DOWN_SECONDS"
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

refused() {
  log "CHAP authentication failed"
  log "Connection terminated."
  cleanup
  exit 19
}

IFS=';' read -ra steps <<< "${FAKE_PPPD_SCRIPT:-}"
for step in "${steps[@]}"; do
  if [ -n "${FAKE_PPPD_LOGIN:-}" ] && [ "$FAKE_PPPD_LOGIN" != "$user:$password" ]; then refused; fi
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
