#!/usr/bin/env bash
# Runs inside the VM that tests/vm/run.sh boots, as root on a throw-away
# overlay of the host's root. Two network namespaces joined by a veth pair:
# the access concentrator (Debian's pppoe-server, CHAP) in "ac" on veth1, the
# subscriber in the first namespace on veth0 with nebrin-rasdial and nebrin on
# the pppd line. Each scenario checks what the subscriber sees: exit statuses,
# error codes, ppp0 and its address, the counters, the program's windows.
#
# Environment (from run.sh): NEBRIN_VM_BIN, NEBRIN_VM_OUT, NEBRIN_VM_ONLY,
# NEBRIN_VM_TRACE, NEBRIN_VM_BOOTED_AT.
set -u
# The trace goes to the first stderr only: never into output a scenario
# captures and compares.
[ -n "${NEBRIN_VM_TRACE:-}" ] && { PS4='+ $(cut -d" " -f1 /proc/uptime) '; exec 9>&2; BASH_XTRACEFD=9; set -x; }
BIN=$NEBRIN_VM_BIN
OUT=$NEBRIN_VM_OUT
AC=/srv/nebrin-ac
AC_ADDR=10.64.0.1
SERVICE=nebrin
USER_NAME=jan.kowalski
PASSWORD='tajne 1#"x'
ENTRY=Nebrin
BEHIND=198.18.0.1
BEHIND6=2001:db8:ff::1
PORTAL=portal.nebrin.test
export NEBRIN_RAS=pppd NEBRIN_PPPOE_INTERFACE=veth0

now() { cut -d' ' -f1 /proc/uptime; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }
log() { echo "  $*"; }

# ---- the line ----------------------------------------------------------------------------------

rasdial() { "$BIN/nebrin-rasdial" "$@"; }
ping() { busybox ping "$@"; }

# Runs nebrin-rasdial; its output in RAS_OUT, exit status in RAS_RC.
ras() {
    local t0
    t0=$(now)
    RAS_OUT=$(rasdial "$@" 2>&1)
    RAS_RC=$?
    log "nebrin-rasdial $* -> exit $RAS_RC ($(secs "$t0" "$(now)") s)$(tail -1 <<<"$RAS_OUT" | sed 's/^/: /')"
}

# pppd processes of the subscriber's namespace (not the concentrator's).
client_pppd() {
    local p me
    me=$(readlink /proc/self/ns/net)
    for p in $(pgrep -x pppd); do
        [ "$(readlink "/proc/$p/ns/net" 2>/dev/null)" = "$me" ] && echo "$p"
    done
}
ac_pppd() {
    local p
    for p in $(ip netns pids ac 2>/dev/null); do
        [ "$(cat "/proc/$p/comm" 2>/dev/null)" = pppd ] && echo "$p"
    done
}

# Waits up to $2 seconds (of the VM's clock) for the condition $1 (a command
# line) to hold; checked once more at the end.
wait_for() {
    local until
    until=$(awk -v a="$(now)" -v b="$2" 'BEGIN { printf "%d", a + b }')
    while [ "$(now | cut -d. -f1)" -lt "$until" ]; do
        eval "$1" && return 0
        sleep 0.2
    done
    eval "$1"
}
# The concentrator gives each session the next address of its pool.
ppp0_up() { ip -4 addr show dev ppp0 2>/dev/null | grep -q "inet 10\.64\.0\.[0-9]* peer $AC_ADDR/"; }
ppp0_gone() { ! ip link show ppp0 >/dev/null 2>&1; }
no_client_pppd() { [ -z "$(client_pppd)" ]; }
listed() { rasdial 2>/dev/null | grep -qx "$ENTRY"; }
counter() { cat "/sys/class/net/ppp0/statistics/$1"; }

# Ends whatever the subscriber still has up, without the dialer.
clean_line() {
    local p
    for p in $(client_pppd); do kill "$p" 2>/dev/null; done
    wait_for no_client_pppd 15 || for p in $(client_pppd); do kill -9 "$p"; done
    wait_for ppp0_gone 5
}

# ---- the access concentrator -------------------------------------------------------------------

AC_PID=
setup_network() {
    ip netns add ac || return 1
    ip link add veth0 type veth peer name veth1 || return 1
    ip link set veth1 netns ac
    ip link set veth0 up
    ip -n ac link set lo up
    ip -n ac link set veth1 up
    mkdir -p "$AC/ppp"
    # The concentrator's own /etc/ppp: the subscriber's side never reads it.
    cat >"$AC/ppp/pppoe-server-options" <<OPT
require-chap
lcp-echo-interval 10
lcp-echo-failure 3
ms-dns $AC_ADDR
+ipv6
logfile $AC/pppd.log
OPT
    # The subscribers' IPv6 prefix is on the concentrator's side of each link.
    cat >"$AC/ppp/ipv6-up" <<'UP'
#!/bin/sh
ip -6 route replace 2001:db8:64::/64 dev "$1"
UP
    chmod 755 "$AC/ppp/ipv6-up"
    # Behind the concentrator: an IPv4 and an IPv6 address, a name only its
    # name server knows, router advertisements on every session's link.
    ip -n ac addr add "$BEHIND/32" dev lo
    ip -n ac addr add "$BEHIND6/128" dev lo
    ip netns exec ac sysctl -qw net.ipv6.conf.all.forwarding=1
    # The name server's address (every session's local end) is on lo too,
    # and dnsmasq bound to it once: bound as the session links come and go
    # (--bind-dynamic), it now and then lost the address for good when one
    # link went and the next came with the same address (seen on Debian 13:
    # "Connection refused" with ppp0 up).
    # It answers every name itself, as a provider's server does: no such
    # name, or no such record (the portal's AAAA), never "refused", which
    # sent the subscriber's resolver on to the next server of resolv.conf
    # (the machine's own, unreachable here: 20 s a lookup).
    ip -n ac addr add "$AC_ADDR/32" dev lo
    if command -v dnsmasq >/dev/null; then
        ip netns exec ac dnsmasq -u root --no-resolv --no-hosts --bind-interfaces --listen-address="$AC_ADDR" \
            --address="/$PORTAL/$BEHIND" --local="/$PORTAL/" --local=/#/ \
            --pid-file="$AC/dnsmasq.pid" --log-facility="$AC/dnsmasq.log" ||
            log "dnsmasq did not start"
    fi
    if command -v radvd >/dev/null; then
        local n
        for n in 0 1 2 3; do
            printf 'interface ppp%s { AdvSendAdvert on; IgnoreIfMissing on; MinRtrAdvInterval 3; MaxRtrAdvInterval 10;\n  prefix 2001:db8:64::/64 { AdvOnLink on; AdvAutonomous on; }; };\n' "$n"
        done >"$AC/radvd.conf"
        ip netns exec ac radvd -C "$AC/radvd.conf" -p "$AC/radvd.pid" -u root -m logfile -l "$AC/radvd.log" ||
            log "radvd did not start"
    fi
    # A web page behind the concentrator.
    mkdir -p "$AC/www"
    echo '<html><body>nebrin-portal</body></html>' >"$AC/www/index.html"
    ip netns exec ac busybox httpd -p "$BEHIND:80" -h "$AC/www" || log "busybox httpd did not start"
    # The package's pppd hooks, as the package installs them.
    local stage
    for stage in ip-pre-up ip-up ip-down; do
        install -D -m 755 "$(dirname "$0")/nebrin-ppp-hook" "/etc/ppp/$stage.d/0010nebrin"
    done
    printf '"%s" * "%s" *\n' "$USER_NAME" "$(sed 's/["\\]/\\&/g' <<<"$PASSWORD")" >"$AC/ppp/chap-secrets"
    chmod 600 "$AC/ppp/chap-secrets"
}

start_ac() {
    # A private /run: pppd numbers its units per namespace, and a shared /run
    # would let the concentrator's pppd remove the subscriber's ppp0.pid.
    ip netns exec ac sh -c "mount -t tmpfs tmpfs /run && mount --bind $AC/ppp /etc/ppp &&
        exec pppoe-server -F -I veth1 -L $AC_ADDR -R 10.64.0.2 -N 8 -S $SERVICE -O /etc/ppp/pppoe-server-options" \
        >>"$AC/server.log" 2>&1 &
    AC_PID=$!
    sleep 0.5
    kill -0 "$AC_PID" 2>/dev/null || { log "pppoe-server did not start: $(cat "$AC/server.log")"; return 1; }
}

# The concentrator's name server: running or not, where it listens, its log.
ac_dns_state() {
    local p
    p=$(cat "$AC/dnsmasq.pid" 2>/dev/null)
    if [ -n "$p" ] && kill -0 "$p" 2>/dev/null; then
        echo "dnsmasq $p runs, listening on: $(ip netns exec ac ss -Hlnu 'sport = :53' | awk '{print $4}' | xargs)"
    else
        echo "dnsmasq is not running"
    fi
    echo "addresses: $(ip -n ac -o -4 addr show | awk '{print $2, $4}' | xargs)"
    tail -5 "$AC/dnsmasq.log" 2>/dev/null
}

stop_ac() {
    [ -n "$AC_PID" ] && kill "$AC_PID" 2>/dev/null && wait "$AC_PID" 2>/dev/null
    AC_PID=
    local p
    for p in $(ac_pppd); do kill -CONT "$p" 2>/dev/null; kill -9 "$p" 2>/dev/null; done
}

# ---- scenarios ---------------------------------------------------------------------------------

RESULTS=()
FAILED=0
fail() { echo "  FAIL: $*"; return 1; }

scenario() {
    local name=$1
    shift
    if [ -n "$NEBRIN_VM_ONLY" ] && ! grep -qw -- "$name" <<<"$NEBRIN_VM_ONLY"; then return; fi
    echo "== $name"
    local t0 rc
    t0=$(now)
    SKIP_REASON=
    "$@"
    rc=$?
    local took
    took=$(secs "$t0" "$(now)")
    if [ -n "$SKIP_REASON" ]; then
        RESULTS+=("SKIP $name ($took s): $SKIP_REASON")
    elif [ $rc -eq 0 ]; then
        RESULTS+=("PASS $name ($took s)")
    else
        RESULTS+=("FAIL $name ($took s)")
        FAILED=$((FAILED + 1))
        echo "  --- concentrator's pppd log (tail):"
        tail -8 "$AC/pppd.log" 2>/dev/null | sed 's/^/  | /'
        echo "  --- concentrator's name server:"
        ac_dns_state | sed 's/^/  | /'
    fi
    clean_line
    [ -n "$AC_PID" ] && kill -0 "$AC_PID" 2>/dev/null || start_ac
}

# The line library that keeps credentials out of /etc/ppp (passwordfd plugin,
# pppd waited for on hang-up) is there.
new_line() { grep -qa passwordfd "$BIN/librasapi-pppd.so"; }
needs_new_line() {
    new_line && return 0
    SKIP_REASON="needs the pppd line with the passwordfd plugin and a hang-up that waits for pppd (not built here)"
    log "SKIP: $SKIP_REASON"
    return 1
}

secrets_sum() { cat /etc/ppp/chap-secrets /etc/ppp/pap-secrets 2>/dev/null | sha256sum | cut -c1-16; }

create_and_dial() {
    local before
    before=$(secrets_sum)
    ras "$ENTRY" /create "$SERVICE" "$USER_NAME" "$PASSWORD"
    [ $RAS_RC -eq 0 ] || fail "create failed: $RAS_OUT" || return
    # Each user's entry has a peer file of its own, named with the uid.
    [ -f "/etc/ppp/peers/$ENTRY.$(id -u)" ] || fail "no peer file /etc/ppp/peers/$ENTRY.$(id -u)" || return
    local t0
    t0=$(now)
    ras "$ENTRY"
    [ $RAS_RC -eq 0 ] || fail "dial failed: $RAS_OUT" || return
    log "connected in $(secs "$t0" "$(now)") s; states: $(awk '{print $1}' <<<"$RAS_OUT" | tr '\n' ' ')"
    [ "$(tail -1 <<<"$RAS_OUT" | cut -d' ' -f1)" = 8192 ] || fail "the last state is not 8192" || return
    listed || fail "the entry is not listed: $(rasdial 2>&1)" || return
    ppp0_up || fail "ppp0 has no address from the concentrator: $(ip addr show ppp0 2>&1)" || return
    log "$(ip -4 -o addr show dev ppp0 | awk '{print $2, $3, $4, $5, $6}')"
    local rx0 tx0 rx1 tx1
    rx0=$(counter rx_bytes)
    tx0=$(counter tx_bytes)
    ping -c 5 -s 1000 -W 2 "$AC_ADDR" >/dev/null || fail "no answer to ping over ppp0" || return
    rx1=$(counter rx_bytes)
    tx1=$(counter tx_bytes)
    log "counters after 5 pings of 1000 bytes: received $rx0 -> $rx1, sent $tx0 -> $tx1"
    [ $((rx1 - rx0)) -ge 5000 ] && [ $((tx1 - tx0)) -ge 5000 ] || fail "the counters did not move with the pings" ||
        return
    ras "$ENTRY"
    [ $RAS_RC -eq 1 ] && grep -q "error 602" <<<"$RAS_OUT" || fail "a second dial did not give 602: $RAS_OUT" ||
        return
    ras "$ENTRY" /disconnect
    [ $RAS_RC -eq 0 ] || fail "disconnect failed: $RAS_OUT" || return
    wait_for ppp0_gone 15 || fail "ppp0 still there 15 s after /disconnect" || return
    if new_line; then
        [ "$(secrets_sum)" = "$before" ] || fail "/etc/ppp/chap-secrets or pap-secrets changed" || return
        log "/etc/ppp/chap-secrets and pap-secrets unchanged"
    fi
}

wrong_password() {
    ras "$ENTRY" "$USER_NAME" "not-the-password"
    [ $RAS_RC -eq 1 ] && grep -q "error 691" <<<"$RAS_OUT" || fail "expected error 691: $RAS_OUT" || return
    sleep 3
    no_client_pppd || fail "pppd still runs after the refusal: $(client_pppd)" || return
    ppp0_gone || fail "ppp0 exists after the refusal" || return
    if listed; then fail "the refused entry is listed"; return; fi
    # The right password again works at once.
    ras "$ENTRY" "$USER_NAME" "$PASSWORD"
    [ $RAS_RC -eq 0 ] || fail "the right password did not connect: $RAS_OUT" || return
    ras "$ENTRY" /disconnect
    wait_for no_client_pppd 15
}

no_concentrator() {
    stop_ac
    local t0
    t0=$(now)
    ras "$ENTRY"
    log "failed after $(secs "$t0" "$(now)") s"
    [ $RAS_RC -eq 1 ] && grep -q "error 678" <<<"$RAS_OUT" || fail "expected error 678: $RAS_OUT" || return
    no_client_pppd || fail "pppd still runs after 678" || return
    start_ac
}

concentrator_drop() {
    ras "$ENTRY"
    [ $RAS_RC -eq 0 ] || fail "dial failed: $RAS_OUT" || return
    local old
    old=$(client_pppd)
    # The concentrator ends the session: its pppd is killed.
    kill $(ac_pppd)
    wait_for ppp0_gone 20 || fail "ppp0 still there 20 s after the concentrator ended the session" || return
    wait_for no_client_pppd 10 || fail "the subscriber's pppd did not end" || return
    if listed; then fail "the dropped connection is still listed"; return; fi
    log "the drop was seen; dialling again"
    ras "$ENTRY"
    [ $RAS_RC -eq 0 ] && ppp0_up || fail "no connection after the drop: $RAS_OUT" || return
    [ "$(client_pppd)" != "$old" ] || fail "the same pppd still runs" || return
    ras "$ENTRY" /disconnect
    wait_for no_client_pppd 15
}

silent_disconnect() {
    needs_new_line || return 0
    ras "$ENTRY"
    [ $RAS_RC -eq 0 ] || fail "dial failed: $RAS_OUT" || return
    # The concentrator goes silent: its pppd stops answering.
    local p
    for p in $(ac_pppd); do kill -STOP "$p"; done
    local t0
    t0=$(now)
    ras "$ENTRY" /disconnect
    log "/disconnect took $(secs "$t0" "$(now)") s"
    [ $RAS_RC -eq 0 ] || fail "/disconnect failed: $RAS_OUT" || return
    no_client_pppd || fail "/disconnect returned while pppd still runs: $(client_pppd)" || return
    ppp0_gone || fail "/disconnect returned while ppp0 is still there" || return
    if listed; then fail "the entry is listed after /disconnect"; return; fi
    for p in $(ac_pppd); do kill -CONT "$p"; kill "$p"; done
    ras "$ENTRY"
    [ $RAS_RC -eq 0 ] || fail "no dial after the silent hang-up: $RAS_OUT" || return
    ras "$ENTRY" /disconnect
}

# Runs a command as user $1 (a member of dip), with the line's environment
# and the set-user-ID helper that stands in for pkexec here.
HELPER=/usr/local/libexec/nebrin-ppp-helper
as_user() {
    local u=$1
    shift
    setpriv --reuid="$u" --regid="$u" --init-groups env -i PATH="$PATH" HOME="/home/$u" LANG=C.UTF-8 \
        NEBRIN_RAS=pppd NEBRIN_PPPOE_INTERFACE=veth0 NEBRIN_PPP_HELPER="$HELPER" NEBRIN_PPP_ELEVATE= "$@"
}
ras_as() {
    local u=$1 t0
    shift
    t0=$(now)
    RAS_OUT=$(as_user "$u" "$BIN/nebrin-rasdial" "$@" 2>&1)
    RAS_RC=$?
    log "$u: nebrin-rasdial $* -> exit $RAS_RC ($(secs "$t0" "$(now)") s)$(tail -1 <<<"$RAS_OUT" | sed 's/^/: /')"
}

two_users() {
    needs_new_line || return 0
    install -D -m 4755 -o root -g root "$BIN/nebrin-ppp-helper" "$HELPER" || return
    local u
    for u in anna piotr; do
        id "$u" >/dev/null 2>&1 || useradd -m -G dip "$u" || fail "cannot add user $u" || return
        printf '"%s" * "%s-pw" *\n' "$u" "$u" >>"$AC/ppp/chap-secrets"
    done
    local before
    before=$(secrets_sum)
    ras_as anna Anna /create "$SERVICE" anna anna-pw
    [ $RAS_RC -eq 0 ] || fail "anna cannot create her entry: $RAS_OUT" || return
    ras_as piotr Piotr /create "$SERVICE" piotr piotr-pw
    [ $RAS_RC -eq 0 ] || fail "piotr cannot create his entry: $RAS_OUT" || return
    local anna_peer
    anna_peer=$(sha256sum <"/etc/ppp/peers/Anna.$(id -u anna)")
    # The same entry name gives piotr a peer file of his own.
    ras_as piotr Anna /create "$SERVICE" piotr piotr-pw
    [ $RAS_RC -eq 0 ] || fail "piotr cannot create his own entry Anna: $RAS_OUT" || return
    [ "$(sha256sum <"/etc/ppp/peers/Anna.$(id -u anna)")" = "$anna_peer" ] || fail "piotr replaced anna's peer file" || return
    [ -f "/etc/ppp/peers/Anna.$(id -u piotr)" ] || fail "piotr's entry Anna has no peer file of his own" || return
    ras_as anna Anna
    [ $RAS_RC -eq 0 ] || fail "anna cannot dial: $RAS_OUT" || return
    ras_as piotr Piotr
    [ $RAS_RC -eq 0 ] || fail "piotr cannot dial: $RAS_OUT" || return
    local n
    n=$(ip -4 -o addr show | grep -c " peer $AC_ADDR/")
    log "$n sessions up: $(ip -4 -o addr show | awk '/ peer / {print $2, $4}' | tr '\n' ' ')"
    [ "$n" -eq 2 ] || fail "expected two ppp interfaces" || return
    [ "$(secrets_sum)" = "$before" ] || fail "/etc/ppp/chap-secrets or pap-secrets changed" || return
    log "/etc/ppp/chap-secrets and pap-secrets unchanged byte for byte"
    ras_as anna Anna /disconnect
    ras_as piotr Piotr /disconnect
    wait_for no_client_pppd 20
}

# ---- what "connected" promises -----------------------------------------------------------------

routes() { ip -4 route show table main | sort; }
via_ppp0() { ip -4 route get "$BEHIND" 2>/dev/null | grep -q " dev ppp0 "; }

# Messages of pppd reach the dialer whatever /etc/ppp/options says about logging.
logfile_in_options() {
    cp -a /etc/ppp/options /tmp/options.saved
    echo "logfile /tmp/pppd-elsewhere.log" >>/etc/ppp/options
    local t0
    t0=$(now)
    ras "$ENTRY"
    cp -a /tmp/options.saved /etc/ppp/options
    [ $RAS_RC -eq 0 ] || fail "dial failed: $RAS_OUT" || return
    log "connected in $(secs "$t0" "$(now)") s; states: $(awk '{print $1}' <<<"$RAS_OUT" | tr '\n' ' ')"
    [ "$(grep -c '^[0-9]' <<<"$RAS_OUT")" -ge 9 ] || fail "not every dial state came through" || return
    ras "$ENTRY" /disconnect
    wait_for no_client_pppd 15
}

# A default route of another card (metric 100 as DHCP gives, metric 0 as a
# static one): while connected traffic goes through ppp0; after /disconnect,
# a drop, and pppd killed plus the next dial, the routes are as before.
default_route() {
    default_route_steps
    local rc=$?
    # The second card goes with its routes, also after a failed step, so
    # that the scenarios after this one meet the machine as it was.
    ip link del veth2 2>/dev/null
    return $rc
}
default_route_steps() {
    ip link add veth2 type veth peer name veth3 || fail "no second card" || return
    ip link set veth2 up
    ip link set veth3 up
    ip addr add 192.168.77.2/24 dev veth2
    local kind before
    for kind in "metric 100 proto dhcp" "metric 0 proto static"; do
        # shellcheck disable=SC2086
        ip route add default via 192.168.77.1 dev veth2 $kind || fail "cannot add the route ($kind)" || return
        before=$(routes)
        log "routes before ($kind): $(tr '\n' ';' <<<"$before")"
        ras "$ENTRY"
        [ $RAS_RC -eq 0 ] || fail "dial failed ($kind): $RAS_OUT" || return
        via_ppp0 || fail "traffic does not go through ppp0 ($kind): $(ip -4 route get "$BEHIND")" || return
        ping -c 2 -W 2 "$BEHIND" >/dev/null || fail "no answer from $BEHIND through ppp0 ($kind)" || return
        ras "$ENTRY" /disconnect
        wait_for ppp0_gone 15
        [ "$(routes)" = "$before" ] || fail "routes after /disconnect differ ($kind): $(routes | tr '\n' ';')" ||
            return
        log "after /disconnect: as before"
        ras "$ENTRY"
        [ $RAS_RC -eq 0 ] || fail "second dial failed ($kind): $RAS_OUT" || return
        kill $(ac_pppd)
        wait_for ppp0_gone 20
        wait_for no_client_pppd 10
        wait_for "[ \"\$(routes)\" = \"\$before\" ]" 5 ||
            fail "routes after a drop differ ($kind): $(routes | tr '\n' ';')" || return
        log "after a drop: as before"
        ras "$ENTRY"
        [ $RAS_RC -eq 0 ] || fail "third dial failed ($kind): $RAS_OUT" || return
        kill -9 $(client_pppd)
        wait_for ppp0_gone 10
        log "pppd killed: $(routes | tr '\n' ';')"
        # Put back at the dialer's next start, before any dial.
        ras /restore
        [ $RAS_RC -eq 0 ] && [ "$RAS_OUT" = "restored what killed sessions left changed" ] ||
            fail "/restore after the kill failed ($kind): $RAS_OUT" || return
        [ "$(routes)" = "$before" ] || fail "routes after kill -9 and /restore differ ($kind): $(routes | tr '\n' ';')" ||
            return
        log "after kill -9 and /restore: as before"
        ras /restore
        [ "$RAS_OUT" = "nothing to restore" ] || fail "a second /restore did something ($kind): $RAS_OUT" || return
        # The concentrator still holds the killed session for a while.
        kill $(ac_pppd) 2>/dev/null
        sleep 1
        ras "$ENTRY"
        [ $RAS_RC -eq 0 ] || fail "dial after the kill failed ($kind): $RAS_OUT" || return
        ras "$ENTRY" /disconnect
        wait_for ppp0_gone 15
        [ "$(routes)" = "$before" ] || fail "routes after kill -9 and the next dial differ ($kind): $(routes | tr '\n' ';')" ||
            return
        log "after kill -9 and the next dial: as before"
        # shellcheck disable=SC2086
        ip route del default via 192.168.77.1 dev veth2 $kind
    done
}

# Names through the provider's servers with a plain /etc/resolv.conf; the file
# as it was after hang-up, byte for byte.
dns_plain() {
    command -v dnsmasq >/dev/null || { SKIP_REASON="dnsmasq is missing (package dnsmasq-base)"; return 0; }
    local saved
    saved=$(mktemp)
    cp -a --remove-destination "$(readlink -f /etc/resolv.conf)" "$saved" 2>/dev/null || : >"$saved"
    rm -f /etc/resolv.conf
    printf 'search example.org\nnameserver 192.0.2.53\n' >/etc/resolv.conf
    local before
    before=$(sha256sum </etc/resolv.conf)
    ras "$ENTRY"
    [ $RAS_RC -eq 0 ] || fail "dial failed: $RAS_OUT" || return
    wait_for "getent hosts $PORTAL >/dev/null" 5
    local got
    got=$(getent hosts "$PORTAL" | awk '{print $1}')
    log "$PORTAL -> ${got:-nothing}; resolv.conf: $(tr '\n' ';' </etc/resolv.conf)"
    [ "$got" = "$BEHIND" ] || fail "$PORTAL did not resolve through the provider" || return
    ras "$ENTRY" /disconnect
    wait_for ppp0_gone 15
    wait_for "[ \"\$(sha256sum </etc/resolv.conf)\" = \"$before\" ]" 5 ||
        fail "resolv.conf differs after hang-up: $(cat /etc/resolv.conf)" || return
    cp -a "$saved" /etc/resolv.conf
}

# The packages run.sh fetched and unpacked for the resolver scenarios are
# there; else SKIP_REASON says why not and it fails.
unpacked() {
    local p
    for p in "$@"; do
        [ -d "${NEBRIN_VM_CACHE:-}/unpacked/$p" ] || {
            SKIP_REASON="$p could not be fetched and unpacked: ${NEBRIN_VM_UNPACK_NOTE:-not in ${NEBRIN_VM_CACHE:-}/unpacked}"
            return 1
        }
    done
}
# A file of an unpacked package ($1) at its path without /usr ($2), under
# /usr (merged /usr, Debian 13) or not (Debian 12): its full path.
in_package() {
    local f
    for f in "$1/usr/$2" "$1/$2"; do
        [ -e "$f" ] && { echo "$f"; return 0; }
    done
    return 1
}

# The programs $3... of package $1 find every library they link, with $2 as
# LD_LIBRARY_PATH; else SKIP_REASON names those missing and it fails.
libraries_there() {
    local what=$1 path=$2 missing
    shift 2
    missing=$(LD_LIBRARY_PATH=$path ldd "$@" 2>&1 | awk '/not found/ {print $1}' | sort -u | xargs)
    [ -z "$missing" ] && return 0
    SKIP_REASON="$what lacks the libraries $missing (tools/install-deps.sh installs them)"
    return 1
}

# systemd-resolved owns /etc/resolv.conf (its stub): Debian's package unpacked
# by run.sh, run from the overlay with a system bus of its own. As on a
# machine booted with systemd, Debian's usepeerdns hook sees it active and
# leaves resolv.conf alone; the names must come through resolved.
resolved_stop() {
    [ -n "${RESOLVED_PID:-}" ] && kill "$RESOLVED_PID" 2>/dev/null && wait "$RESOLVED_PID" 2>/dev/null
    [ -f /run/dbus/pid ] && kill "$(cat /run/dbus/pid)" 2>/dev/null
    rm -f /usr/local/bin/resolvectl /usr/local/bin/systemctl /run/dbus/pid
    rmdir /run/systemd/system 2>/dev/null
    RESOLVED_PID=
}
dns_resolved() {
    local c=${NEBRIN_VM_CACHE:-}/unpacked
    unpacked systemd-resolved libsystemd-shared || return 0
    local r=$c/systemd-resolved resolved lib
    resolved=$(in_package "$r" lib/systemd/systemd-resolved) || {
        SKIP_REASON="the unpacked systemd-resolved has no systemd-resolved program"
        return 0
    }
    lib=$(in_package "$c/libsystemd-shared" lib/x86_64-linux-gnu/systemd) || {
        SKIP_REASON="the unpacked libsystemd-shared has no lib/x86_64-linux-gnu/systemd"
        return 0
    }
    libraries_there systemd-resolved "$lib" "$resolved" "$r/usr/bin/resolvectl" || return 0
    command -v dnsmasq >/dev/null || { SKIP_REASON="dnsmasq is missing (package dnsmasq-base)"; return 0; }
    command -v dbus-daemon >/dev/null || { SKIP_REASON="dbus-daemon is missing (package dbus)"; return 0; }
    id systemd-resolve >/dev/null 2>&1 || useradd --system --no-create-home systemd-resolve ||
        fail "cannot add the user systemd-resolve" || return
    cp "$r/usr/share/dbus-1/system.d/org.freedesktop.resolve1.conf" /usr/share/dbus-1/system.d/
    mkdir -p /run/dbus /etc/systemd
    dbus-daemon --system --fork || fail "the system bus did not start" || return
    printf '#!/bin/sh\nLD_LIBRARY_PATH=%s exec %s "$@"\n' "$lib" "$r/usr/bin/resolvectl" >/usr/local/bin/resolvectl
    printf '#!/bin/sh\n[ "$*" = "is-active --quiet systemd-resolved.service" ] && pgrep -x systemd-resolve >/dev/null\n' \
        >/usr/local/bin/systemctl
    chmod 755 /usr/local/bin/resolvectl /usr/local/bin/systemctl
    mkdir -p /run/systemd/system
    LD_LIBRARY_PATH=$lib "$resolved" >"$OUT/resolved.log" 2>&1 &
    RESOLVED_PID=$!
    wait_for "[ -S /run/systemd/resolve/io.systemd.Resolve ] && [ -f /run/systemd/resolve/stub-resolv.conf ]" 30 ||
        { resolved_stop; fail "systemd-resolved did not start: $(tail -3 "$OUT/resolved.log")"; return; }
    local saved
    saved=$(mktemp)
    cp -a --remove-destination "$(readlink -f /etc/resolv.conf)" "$saved" 2>/dev/null || : >"$saved"
    ln -sf /run/systemd/resolve/stub-resolv.conf /etc/resolv.conf
    local before
    before=$( (sha256sum </etc/resolv.conf; resolvectl dns; resolvectl domain) 2>&1)
    if getent hosts "$PORTAL" >/dev/null; then resolved_stop; fail "$PORTAL resolves before the dial"; return; fi
    ras "$ENTRY"
    local ok=0 got
    if [ $RAS_RC -eq 0 ]; then
        wait_for "getent hosts $PORTAL >/dev/null" 10
        got=$(getent hosts "$PORTAL" | awk '{print $1}')
        log "$PORTAL -> ${got:-nothing}; resolvectl dns ppp0: $(resolvectl dns ppp0 2>&1)"
        [ "$got" = "$BEHIND" ] && ok=1
        ras "$ENTRY" /disconnect
        wait_for ppp0_gone 15
    fi
    local after
    after=$( (sha256sum </etc/resolv.conf; resolvectl dns; resolvectl domain) 2>&1)
    resolved_stop
    rm -f /etc/resolv.conf
    cp -a "$saved" /etc/resolv.conf
    [ $RAS_RC -eq 0 ] || fail "dial failed: $RAS_OUT" || return
    [ $ok -eq 1 ] || fail "$PORTAL did not resolve through the provider" || return
    [ "$after" = "$before" ] || fail "the resolver's state differs after hang-up: $after" || return
    log "resolv.conf and resolved's servers and domains as before"
}
# resolvconf or openresolv manages /etc/resolv.conf: the package unpacked by
# run.sh, its files laid into the VM's overlay for the scenario (the two
# conflict, so never both at once), the machine's own name server registered
# for veth0 as ifupdown would. Their own ppp hooks hand the provider's
# servers over; ours checks the result. Afterwards resolv.conf is as before.
dns_with() {
    local pkg=$1 u=${NEBRIN_VM_CACHE:-}/unpacked/$1
    unpacked "$pkg" || return 0
    in_package "$u" sbin/resolvconf >/dev/null || { SKIP_REASON="the unpacked $pkg has no resolvconf program"; return 0; }
    command -v dnsmasq >/dev/null || { SKIP_REASON="dnsmasq is missing (package dnsmasq-base)"; return 0; }
    local files saved
    files=$(cd "$u" && find . \( -type f -o -type l \) ! -path './usr/share/*' | sed 's/^\.//')
    saved=$(mktemp)
    cp -a --remove-destination "$(readlink -f /etc/resolv.conf)" "$saved" 2>/dev/null || : >"$saved"
    rm -f /etc/resolv.conf
    # (/lib, /sbin are links into /usr on Debian: kept as they are.)
    (cd "$u" && tar -c --exclude=./usr/share .) | tar -x --keep-directory-symlink -C /
    if [ "$pkg" = resolvconf ]; then
        mkdir -p /run/resolvconf/interface
        : >/run/resolvconf/resolv.conf
        : >/run/resolvconf/enable-updates
        ln -sf /run/resolvconf/resolv.conf /etc/resolv.conf
    else
        : >/etc/resolv.conf
    fi
    printf 'nameserver 192.0.2.53\nsearch example.org\n' | resolvconf -a veth0.inet
    resolvconf -u 2>/dev/null
    local before
    before="$(readlink /etc/resolv.conf) $(sha256sum </etc/resolv.conf)"
    log "resolv.conf before: $(tr '\n' ';' </etc/resolv.conf)"
    ras "$ENTRY"
    local ok=0 got
    if [ $RAS_RC -eq 0 ]; then
        wait_for "getent hosts $PORTAL >/dev/null" 10
        got=$(getent hosts "$PORTAL" | awk '{print $1}')
        log "$PORTAL -> ${got:-nothing}; resolv.conf: $(tr '\n' ';' </etc/resolv.conf)"
        [ "$got" = "$BEHIND" ] && ok=1
        ras "$ENTRY" /disconnect
        wait_for ppp0_gone 15
        wait_for "[ \"\$(readlink /etc/resolv.conf) \$(sha256sum </etc/resolv.conf)\" = \"$before\" ]" 5
    fi
    local after
    after="$(readlink /etc/resolv.conf) $(sha256sum </etc/resolv.conf)"
    local f
    while IFS= read -r f; do rm -f "$f"; done <<<"$files"
    rm -rf /run/resolvconf /etc/resolv.conf
    cp -a "$saved" /etc/resolv.conf
    [ $RAS_RC -eq 0 ] || fail "dial failed: $RAS_OUT" || return
    [ $ok -eq 1 ] || fail "$PORTAL did not resolve through the provider" || return
    [ "$after" = "$before" ] || fail "resolv.conf differs after hang-up" || return
    log "resolv.conf as before"
}
dns_resolvconf() { dns_with resolvconf; }
dns_openresolv() { dns_with openresolv; }

# NetworkManager manages the subscriber's card and writes /etc/resolv.conf
# (its default): Debian's package and the libraries the host lacks, unpacked
# by run.sh and run from there, with a system bus of its own. It runs where /sys is read-only, as in a container: without
# udev it would otherwise wait for udev to announce every card and manage
# none. The card has a fixed address and the machine's own name server.
# While connected the portal's name must resolve, also after NetworkManager
# rewrote resolv.conf (as it does on a lease renewal); after hang-up
# resolv.conf is as before, also when NetworkManager writes it again.
NM_PACKAGES="network-manager libnm0 libndp0 libteamdctl0 libmm-glib0 libbluetooth3"
NM_PID=
nm_stop() {
    [ -n "$NM_PID" ] && kill "$NM_PID" 2>/dev/null && wait "$NM_PID" 2>/dev/null
    [ -f /run/dbus/pid ] && kill "$(cat /run/dbus/pid)" 2>/dev/null
    rm -f /run/dbus/pid
    NM_PID=
}
resolv_state() { echo "$(readlink /etc/resolv.conf) $(sha256sum </etc/resolv.conf 2>&1)"; }
dns_networkmanager() {
    local c=${NEBRIN_VM_CACHE:-}/unpacked p
    # shellcheck disable=SC2086
    unpacked $NM_PACKAGES || return 0
    command -v dnsmasq >/dev/null || { SKIP_REASON="dnsmasq is missing (package dnsmasq-base)"; return 0; }
    command -v dbus-daemon >/dev/null || { SKIP_REASON="dbus-daemon is missing (package dbus)"; return 0; }
    local nm=$c/network-manager libs
    libs=$(for p in $NM_PACKAGES; do printf '%s:' "$c/$p/usr/lib/x86_64-linux-gnu"; done)
    libraries_there NetworkManager "$libs" "$nm/usr/sbin/NetworkManager" "$nm/usr/bin/nmcli" || return 0
    # Run from the unpacked package; in place only what it looks for at fixed
    # paths: its plugins, its bus policy, Debian's configuration, and nmcli
    # where the pppd hook's PATH finds it first.
    local saved
    saved=$(mktemp)
    cp -a --remove-destination "$(readlink -f /etc/resolv.conf)" "$saved" 2>/dev/null || : >"$saved"
    mkdir -p /usr/lib/x86_64-linux-gnu/NetworkManager /etc/NetworkManager/system-connections
    cp -r "$nm/usr/lib/x86_64-linux-gnu/NetworkManager/." /usr/lib/x86_64-linux-gnu/NetworkManager/
    cp "$nm/usr/share/dbus-1/system.d/org.freedesktop.NetworkManager.conf" /usr/share/dbus-1/system.d/
    cp "$nm/etc/NetworkManager/NetworkManager.conf" /etc/NetworkManager/
    printf '#!/bin/sh\nLD_LIBRARY_PATH=%s exec %s "$@"\n' "$libs" "$nm/usr/bin/nmcli" >/usr/local/bin/nmcli
    chmod 755 /usr/local/bin/nmcli
    NM_LIBS=$libs NM_BIN=$nm/usr/sbin/NetworkManager dns_networkmanager_steps
    local rc=$?
    nm_stop
    rm -rf /usr/lib/x86_64-linux-gnu/NetworkManager /usr/share/dbus-1/system.d/org.freedesktop.NetworkManager.conf \
        /usr/local/bin/nmcli /etc/NetworkManager /run/NetworkManager /var/lib/NetworkManager /etc/resolv.conf
    ip -4 addr flush dev veth0
    cp -a "$saved" /etc/resolv.conf
    return $rc
}
dns_networkmanager_steps() {
    mkdir -p /run/dbus /etc/NetworkManager/system-connections
    dbus-daemon --system --fork || fail "the system bus did not start" || return
    cat >/etc/NetworkManager/system-connections/wired.nmconnection <<'KEY'
[connection]
id=wired
type=ethernet
interface-name=veth0

[ipv4]
method=manual
address1=192.0.2.10/24
dns=192.0.2.53;
dns-search=example.org;
dns-options=timeout:1;attempts:1;

[ipv6]
method=ignore
KEY
    chmod 600 /etc/NetworkManager/system-connections/wired.nmconnection
    rm -f /etc/resolv.conf
    LD_LIBRARY_PATH=$NM_LIBS unshare -m sh -c \
        "mount --bind /sys /sys && mount -o remount,bind,ro /sys && exec $NM_BIN --no-daemon" >"$OUT/nm.log" 2>&1 &
    NM_PID=$!
    local t0
    t0=$(now)
    wait_for "nmcli -t -f DEVICE,STATE device 2>/dev/null | grep -qx veth0:connected && grep -qs 192.0.2.53 /etc/resolv.conf" 40 ||
        fail "NetworkManager did not connect veth0: $(nmcli device 2>&1 | tr '\n' ';') $(tail -3 "$OUT/nm.log")" || return
    local before
    before=$(resolv_state)
    log "NetworkManager connected veth0 in $(secs "$t0" "$(now)") s"
    log "resolv.conf before: $(tr '\n' ';' </etc/resolv.conf)"
    if getent hosts "$PORTAL" >/dev/null; then fail "$PORTAL resolves before the dial"; return; fi
    ras "$ENTRY"
    [ $RAS_RC -eq 0 ] || fail "dial failed: $RAS_OUT" || return
    log "hook: $(tr '\n' ';' </run/nebrin-ppp/ppp0.status); resolv.conf: $(tr '\n' ';' </etc/resolv.conf)"
    local step got
    for step in "after the dial" "after NetworkManager rewrote resolv.conf"; do
        [ "$step" = "after the dial" ] || nmcli general reload dns-rc
        wait_for "getent hosts $PORTAL >/dev/null" 5
        got=$(getent hosts "$PORTAL" | awk '{print $1}')
        log "$step: $PORTAL -> ${got:-nothing}"
        [ "$got" = "$BEHIND" ] || fail "$PORTAL did not resolve through the provider $step: $(tr '\n' ';' </etc/resolv.conf)" ||
            return
    done
    ras "$ENTRY" /disconnect
    wait_for ppp0_gone 15
    for step in "after hang-up" "after NetworkManager wrote resolv.conf again"; do
        [ "$step" = "after hang-up" ] || nmcli general reload dns-rc
        wait_for "[ \"\$(resolv_state)\" = \"$before\" ]" 5 ||
            fail "resolv.conf differs $step: $(tr '\n' ';' </etc/resolv.conf)" || return
    done
    log "resolv.conf as before, also after NetworkManager wrote it again"
}

# Two dials of the entry at the same moment from two processes: one 602.
simultaneous_dials() {
    local a b ra rb
    a=$(mktemp)
    b=$(mktemp)
    rasdial "$ENTRY" >"$a" 2>&1 &
    ra=$!
    rasdial "$ENTRY" >"$b" 2>&1 &
    rb=$!
    wait $ra
    ra=$?
    wait $rb
    rb=$?
    log "first: exit $ra $(tail -1 "$a"); second: exit $rb $(tail -1 "$b")"
    local n602
    n602=$(cat "$a" "$b" | grep -c "error 602")
    [ $((ra + rb)) -eq 1 ] && [ "$n602" -eq 1 ] || fail "expected one connection and one 602" || return
    local n
    n=$(ip -4 -o addr show | grep -c " peer $AC_ADDR/")
    [ "$n" -eq 1 ] || fail "$n sessions up" || return
    ras "$ENTRY" /disconnect
    wait_for no_client_pppd 15
}

# The cable out: the cable error at once.
carrier_down() {
    ip -n ac link set veth1 down
    wait_for "ip link show veth0 | grep -q NO-CARRIER" 5
    local t0 took
    t0=$(now)
    ras "$ENTRY"
    took=$(secs "$t0" "$(now)")
    ip -n ac link set veth1 up
    [ $RAS_RC -eq 1 ] && grep -q "error 679" <<<"$RAS_OUT" || fail "expected error 679: $RAS_OUT" || return
    awk -v t="$took" 'BEGIN { exit !(t < 2) }' || fail "the cable error took $took s" || return
    no_client_pppd || fail "pppd runs after 679" || return
}

# IPv6: a global address by SLAAC and a ping to an address behind the concentrator.
ipv6() {
    command -v radvd >/dev/null || { SKIP_REASON="radvd is missing (package radvd)"; return 0; }
    ras "$ENTRY"
    [ $RAS_RC -eq 0 ] || fail "dial failed: $RAS_OUT" || return
    wait_for "ip -6 addr show dev ppp0 scope global | grep -q 2001:db8:64:" 30 ||
        fail "no global IPv6 address on ppp0: $(ip -6 addr show dev ppp0)" || return
    log "$(ip -6 -o addr show dev ppp0 scope global | awk '{print $2, $4}')"
    ping -6 -c 2 -W 3 "$BEHIND6" >/dev/null || fail "no answer to ping -6 $BEHIND6" || return
    # The line tells the program the address (the connection log shows it).
    local want told
    want=$(ip -6 -o addr show dev ppp0 scope global | awk '{print $4}' | cut -d/ -f1 | head -1)
    told=$(rasdial "$ENTRY" /addresses 2>&1)
    log "the line tells: $(tr '\n' ' ' <<<"$told")"
    grep -qx "$want" <<<"$told" || fail "the line does not tell the global address $want" || return
    grep -qx "$(ip -4 -o addr show dev ppp0 | awk '{print $4}' | cut -d/ -f1)" <<<"$told" ||
        fail "the line does not tell the IPv4 address" || return
    ras "$ENTRY" /disconnect
    wait_for no_client_pppd 15
}

. "$(dirname "$0")/gui.sh"

# ---- run ---------------------------------------------------------------------------------------

echo "VM up after $NEBRIN_VM_BOOTED_AT s of kernel time ($(nproc) vCPUs, $(uname -r))"
setup_network || { echo "FAIL: the network namespaces could not be set up"; exit 1; }
start_ac || exit 1
t_all=$(now)
scenario create_and_dial create_and_dial
scenario wrong_password wrong_password
scenario no_concentrator no_concentrator
scenario concentrator_drop concentrator_drop
scenario silent_disconnect silent_disconnect
scenario two_users two_users
scenario logfile_in_options logfile_in_options
scenario default_route default_route
scenario dns_plain dns_plain
scenario dns_resolved dns_resolved
scenario dns_resolvconf dns_resolvconf
scenario dns_openresolv dns_openresolv
scenario dns_networkmanager dns_networkmanager
scenario simultaneous_dials simultaneous_dials
scenario carrier_down carrier_down
scenario ipv6 ipv6
scenario program program_under_x
stop_ac
# The concentrator's logs beside the results.
for f in "$AC"/*.log; do [ -f "$f" ] && cp "$f" "$OUT/ac-$(basename "$f")"; done
echo "== results (scenarios $(secs "$t_all" "$(now)") s, VM up $(now) s)"
printf '  %s\n' "${RESULTS[@]}"
echo "${#RESULTS[@]} scenarios, $FAILED failed"
exit $((FAILED > 0))
