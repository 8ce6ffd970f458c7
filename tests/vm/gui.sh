# The program itself inside the VM (sourced by scenarios.sh): nebrin under
# Xvfb on the pppd line. Shift+F1 connects, the statistics window shows the
# traffic, and a session the concentrator ends is dialled again by the
# program itself. Screenshots go to the results folder.

X_PID=
NEBRIN_PID=
gui_cleanup() {
    [ -n "$NEBRIN_PID" ] && kill "$NEBRIN_PID" 2>/dev/null && wait "$NEBRIN_PID" 2>/dev/null
    [ -n "$X_PID" ] && kill "$X_PID" 2>/dev/null && wait "$X_PID" 2>/dev/null
    ip link del veth4 2>/dev/null
    NEBRIN_PID=
    X_PID=
}

# Visible window named $1 (exact), waiting up to $2 seconds.
gui_window() {
    wait_for "GUI_WIN=\$(xdotool search --onlyvisible --name '^$1\$' 2>/dev/null | head -1); [ -n \"\$GUI_WIN\" ]" "$2" &&
        echo "$GUI_WIN"
}
# On a failure: the log window's screenshot ($1), the message ($2).
gui_failed() {
    xdotool key ctrl+alt+l
    sleep 3
    gui_shot "$1"
    gui_cleanup
    fail "$2"
}
# The OnOff button's ring is teal while connected, dark blue otherwise.
gui_look() {
    import -window root "$OUT/look.png" 2>/dev/null || return 1
    local g
    g=$(convert "$OUT/look.png" -format "%[fx:int(255*p{$((GUI_X + 17)),$((GUI_Y + 158))}.g)]" info:)
    if [ "$1" = online ]; then [ "$g" -gt 150 ]; else [ "$g" -lt 120 ]; fi
}
gui_shot() { import -window root "$OUT/$1.png" 2>/dev/null && log "screenshot $OUT/$1.png"; }

program_under_x() {
    local t
    [ -x "$BIN/nebrin" ] || { SKIP_REASON="nebrin is not built"; return 0; }
    for t in Xvfb xdotool import xwininfo; do
        command -v $t >/dev/null || { SKIP_REASON="$t is missing"; return 0; }
    done
    local work=/root/nebrin-gui
    local home=$work/home
    mkdir -p "$home/skin" "$home/html" "$work/run"
    chmod 700 "$work/run"
    cp "$BIN/skin/default.nbt" "$home/skin/" || fail "no packed default theme" || return
    # A first start: no entry and no settings yet.
    rm -f "/etc/ppp/peers/$ENTRY" "/etc/ppp/peers/$ENTRY.$(id -u)"

    # The machine has a default route of its own (a static one on another
    # card): the program's connection must still carry the traffic.
    ip link add veth4 type veth peer name veth5 && ip link set veth4 up && ip link set veth5 up &&
        ip addr add 192.168.78.2/24 dev veth4 && ip route add default via 192.168.78.1 dev veth4 proto static ||
        fail "cannot add the second card with its default route" || return

    Xvfb :1 -screen 0 1024x768x24 -wr -nolisten tcp >"$OUT/xvfb.log" 2>&1 &
    X_PID=$!
    export DISPLAY=:1 XDG_RUNTIME_DIR=$work/run DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
    wait_for "xdotool getmouselocation >/dev/null 2>&1" 30 || { gui_cleanup; fail "Xvfb did not start"; return; }
    local t0
    t0=$(now)
    # As root the program shows no web pages unless told it is a test. The
    # X11 platform alone: with the Wayland one to fall back on (the
    # program's default), a failed connection to the X server was reported
    # only as a Wayland plugin that could not load.
    QT_QPA_PLATFORM=xcb NEBRIN_TEST_WEB_AS_ROOT=1 NEBRIN_HOME=$home "$BIN/nebrin" >"$OUT/nebrin.log" 2>&1 &
    NEBRIN_PID=$!
    local win
    win=$(gui_window "$ENTRY" 120) || {
        gui_cleanup
        fail "no main window: $(head -5 "$OUT/nebrin.log"); X server: $(tail -3 "$OUT/xvfb.log")"
        return
    }
    log "main window after $(secs "$t0" "$(now)") s"
    local geo x y
    geo=$(xwininfo -id "$win")
    x=$(awk '/Absolute upper-left X/ {print $4}' <<<"$geo")
    y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$geo")
    GUI_X=$x
    GUI_Y=$y
    # The web engine starts after the first paint, on the program's own
    # thread: under emulation that takes a while, and keys wait for it.
    wait_for "pgrep -f QtWebEngineProcess >/dev/null" 120 || log "no web engine process after 120 s"
    log "web engine up after $(secs "$t0" "$(now)") s"
    sleep 5

    # Without a window manager a click gives the main window the keyboard: on
    # the skin below the pane, which may be another process's window.
    # A busy program may take the keys late: pressed again only while
    # nothing came of the first press.
    local try dlg=
    t0=$(now)
    for try in 1 2 3; do
        xdotool mousemove $((x + 180)) $((y + 170)) click 1
        sleep 1
        xdotool key shift+F1
        dlg=$(gui_window "Konfiguracja połączenia" 60) && break
        [ -z "$(client_pppd)" ] || break
        log "no answer to Shift+F1 yet (try $try)"
    done
    # The first connection asks for the subscriber's settings, then dials.
    [ -n "$dlg" ] || { gui_failed program_no_dialog "no settings dialog after Shift+F1"; return; }
    xdotool windowfocus --sync "$dlg" 2>/dev/null
    sleep 1
    xdotool type --delay 30 "$USER_NAME"
    xdotool key Tab
    xdotool type --delay 30 "$PASSWORD"
    xdotool key Tab
    xdotool type --delay 30 "$PASSWORD"
    xdotool key Tab
    xdotool type --delay 30 "$SERVICE"
    sleep 0.5
    gui_shot program_settings
    xdotool key Return
    wait_for ppp0_up 90 || { gui_failed program_no_connection "Shift+F1 did not connect"; return; }
    log "Shift+F1 and the settings dialog connected in $(secs "$t0" "$(now)") s"
    wait_for "gui_look online" 90 || { gui_failed program_not_online "the window does not show the connection"; return; }
    local first
    first=$(client_pppd)
    # A page by name, through the connection, not the other card (the name
    # through the C library's resolver: the static busybox has none of its own;
    # its wget's own -T timeout crashes, timeout(1) limits it instead).
    wait_for "getent hosts $PORTAL >/dev/null" 60
    local portal
    portal=$(getent hosts "$PORTAL" | awk '{print $1; exit}')
    log "$PORTAL -> ${portal:-nothing}; resolv.conf: $(tr '\n' ';' </etc/resolv.conf)"
    [ -n "$portal" ] || log "asked directly: $(timeout 5 busybox nslookup "$PORTAL" "$AC_ADDR" 2>&1 | tr '\n' ';')" \
        "concentrator's name server: $(ac_dns_state | tr '\n' ';')"
    wait_for "timeout 5 busybox wget -q -O - --header 'Host: $PORTAL' http://$portal/ 2>/dev/null | grep -q nebrin-portal" 30 ||
        { gui_failed program_no_page "no page of $PORTAL through the connection: $(ip -4 route get "$BEHIND" 2>&1)"; return; }
    log "the page of $PORTAL came through ppp0"

    # Traffic, then the statistics window (a click on the speed panel).
    ping -q -i 0.02 -s 1400 -w 25 "$AC_ADDR" >/dev/null &
    local ping_pid=$!
    local sx sy
    sx=$("$BIN/nebrin-theme" get "$home/skin/default.nbt" DLULSppedMeter SMLeft)
    sy=$("$BIN/nebrin-theme" get "$home/skin/default.nbt" DLULSppedMeter SMTop)
    sleep 2
    xdotool mousemove $((x + sx + 10)) $((y + sy + 5)) click 1
    sleep 8
    gui_shot program_stats
    kill "$ping_pid" 2>/dev/null
    wait "$ping_pid"
    log "ppp0 counters: received $(counter rx_bytes), sent $(counter tx_bytes)"

    # The concentrator ends the session; the program notices and dials again.
    t0=$(now)
    kill $(ac_pppd)
    wait_for ppp0_gone 30 || { gui_failed program_no_drop "ppp0 still there after the concentrator ended the session"; return; }
    log "ppp0 gone $(secs "$t0" "$(now)") s after the concentrator ended the session"
    wait_for "gui_look offline" 90 || { gui_failed program_no_offline "the window did not show the drop"; return; }
    log "the window shows the drop after $(secs "$t0" "$(now)") s"
    cp "$OUT/look.png" "$OUT/program_dropped.png"
    wait_for "ppp0_up && [ -n \"\$(client_pppd)\" ] && [ \"\$(client_pppd)\" != \"$first\" ]" 90 ||
        { gui_failed program_no_redial "the program did not dial again by itself"; return; }
    log "dialled again by itself, connected $(secs "$t0" "$(now)") s after the drop"
    wait_for "gui_look online" 90 || { gui_failed program_not_online "the window does not show the new connection"; return; }
    cp "$OUT/look.png" "$OUT/program_redialled.png"
    xdotool mousemove $((x + 180)) $((y + 170)) click 1
    sleep 0.5
    xdotool key ctrl+alt+l
    gui_window "Połączenie: $ENTRY" 20 >/dev/null || log "no log window after Ctrl+Alt+L"
    sleep 2
    gui_shot program_log
    kill -0 "$NEBRIN_PID" || { gui_cleanup; fail "the program ended"; return; }
    gui_cleanup
}
