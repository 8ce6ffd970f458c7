#!/usr/bin/env bash
# Installs the Debian package on a fresh Debian 12 and a fresh Debian 13 file
# system and runs it there:
#   tools/install-test.sh [--suite bookworm|trixie] [DEB]
#                                    (without DEB: tools/dev.sh package first;
#                                    without --suite: both, one after the other)
#
# A minimal system (debootstrap --variant=minbase, tools/debian-root.sh) is
# unpacked into a temporary folder and entered with chroot, /proc, /dev and
# /sys mounted. There `apt-get install ./nebrin_….deb` must install the
# package with its dependencies; then `nebrin-theme verify` of the installed
# theme prints OK, `nebrin-rasdial` lists the connections, `nebrin` (as a new
# user, on the simulated line) shows its window on an Xvfb display of this
# machine (the screenshot is kept), and `apt-get purge nebrin` leaves no file
# of the package's outside that user's data folder.
#
# Needs root, debootstrap, Xvfb and the network to Debian's mirror; without
# them it says why and exits 0 (skipped). Each minimal system is made once and
# kept as a tarball, with the downloaded packages, in $NEBRIN_INSTALL_TEST_CACHE
# (/var/cache/nebrin-install-test), so a later run takes a minute or two.
# Environment: NEBRIN_DEBIAN_MIRROR (the one of this machine's apt sources),
# NEBRIN_INSTALL_TEST_DISPLAY (the first free of :190 to :199),
# NEBRIN_INSTALL_TEST_OUT (build-package/install-test: logs and screenshots,
# one folder per suite).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

suite=""
if [ "${1:-}" = --suite ]; then
    suite=${2:?--suite needs bookworm or trixie}
    shift 2
fi
if [ -z "$suite" ]; then
    # Both releases, the same package.
    if [ $# -ge 1 ]; then
        deb=$(realpath -e "$1")
    else
        [ "$(id -u)" -eq 0 ] || { echo "install test SKIPPED: it needs root (chroot and mounts)"; exit 0; }
        bash tools/dev.sh package
        deb=$(ls "$here"/build-package/nebrin_*_"$(dpkg --print-architecture)".deb)
    fi
    status=0
    for s in bookworm trixie; do
        bash "$0" --suite "$s" "$deb" || status=1
    done
    exit $status
fi
[ $# -ge 1 ] || { echo "usage: tools/install-test.sh [--suite bookworm|trixie] [DEB]" >&2; exit 2; }
deb=$(realpath -e "$1")

debian_root_what="install test ($suite)"
out=${NEBRIN_INSTALL_TEST_OUT:-$here/build-package/install-test}/$suite
debian_root_log=$out
# shellcheck source=tools/debian-root.sh
. "$here/tools/debian-root.sh"
user=subscriber

debian_root_checks "$suite" Xvfb import xdotool xwininfo

start=$(date +%s)
phase_start=$start
phase() {
    local now
    now=$(date +%s)
    echo "== $suite: $* (after $((now - start)) s)"
    phase_start=$now
}

mkdir -p "$out"
rm -f "$out"/*.png

xvfb_pid=""
app_pid=""
stop_programs() {
    [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null
}
debian_root_cleanup_hooks+=(stop_programs)
debian_root_make "$suite"
phase "fresh $suite in $root"
cp "$deb" "$root/tmp/"
deb_in_root=/tmp/$(basename "$deb")

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# ---- Install -----------------------------------------------------------------------------------------
phase "apt-get install ./$(basename "$deb")"
in_root apt-get update -qq
if ! in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb_in_root" >"$out/apt-install.log" 2>&1; then
    tail -30 "$out/apt-install.log"
    echo "install test ($suite) FAILED: apt-get install"
    exit 1
fi
grep -E '^(Need to get|After this operation|[0-9]+ upgraded)' "$out/apt-install.log" || true
echo "installed in $(($(date +%s) - phase_start)) s"
rm -f "$root$deb_in_root"

# ---- Run ---------------------------------------------------------------------------------------------
phase "nebrin-theme verify /usr/share/nebrin/skin/default.nbt"
verify=$(in_root nebrin-theme verify /usr/share/nebrin/skin/default.nbt 2>&1) || true
echo "$verify"
[ "$verify" = OK ] || fail "nebrin-theme verify"

phase "nebrin-rasdial"
if in_root nebrin-rasdial; then echo "(exit 0)"; else fail "nebrin-rasdial exit $?"; fi

phase "nebrin on Xvfb, NEBRIN_RAS=sim, as the user $user"
display=${NEBRIN_INSTALL_TEST_DISPLAY:-}
if [ -z "$display" ]; then
    for n in 190 191 192 193 194 195 196 197 198 199; do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            display=:$n
            break
        fi
    done
fi
[ -n "$display" ] || { echo "install test ($suite) FAILED: no free display"; exit 1; }
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
    xwininfo -root -display "$display" >/dev/null 2>&1 && break
    sleep 0.2
done
mkdir -p "$root/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
in_root useradd -m -s /bin/sh "$user"
uid=$(in_root id -u "$user")
# The runtime folder a login session would give the user.
mkdir -m 0700 -p "$root/run/user/$uid"
in_root chown "$user:$user" "/run/user/$uid"
# The web engine's sandbox needs a user namespace, which the kernel refuses
# to a chrooted process; on the subscriber's machine it has one.
chroot --userspec="$user:$user" "$root" /usr/bin/env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="/home/$user" \
    USER="$user" XDG_RUNTIME_DIR="/run/user/$uid" DISPLAY="$display" NEBRIN_RAS=sim QTWEBENGINE_DISABLE_SANDBOX=1 \
    nebrin >"$out/nebrin.log" 2>&1 &
app_pid=$!
window=""
for _ in $(seq 120); do
    window=$(DISPLAY=$display xdotool search --onlyvisible --name '^Nebrin' 2>/dev/null | head -1) || true
    [ -z "$window" ] || break
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.5
done
if [ -n "$window" ]; then
    # Let the web engine start and show the offline page.
    sleep 15
    import -display "$display" -window root "$out/nebrin-installed.png"
    colours=$(convert "$out/nebrin-installed.png" -format '%k' info:)
    echo "window shown; screenshot $out/nebrin-installed.png ($colours colours)"
    [ "$colours" -gt 16 ] || fail "the screenshot is (nearly) blank"
else
    fail "nebrin showed no window"
fi
kill -0 "$app_pid" 2>/dev/null || fail "nebrin ended by itself: $(tail -5 "$out/nebrin.log")"
kill "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
app_pid=""
umount "$root/tmp/.X11-unix"
data="/home/$user/.local/share/nebrin"
echo "the user's data folder $data:"
(cd "$root$data" && find . -mindepth 1 | sort | sed 's/^/  /') || fail "nebrin wrote no data folder"

# ---- Purge -------------------------------------------------------------------------------------------
phase "apt-get purge nebrin"
dpkg-deb -c "$deb" | awk '{ sub(/^\./, "", $6); print $6 }' | sed 's|/$||' | grep -v '^$' >"$out/package-files"
in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q nebrin >"$out/apt-purge.log" 2>&1 || fail "apt-get purge"
left=$(
    for f in $(grep -E '/nebrin(/|$)|nebrin[^/]*$' "$out/package-files"); do
        [ -e "$root$f" ] && echo "$f"
    done
    # (The user's session keeps its single-instance lock in its runtime folder.)
    find "$root" -xdev -iname '*nebrin*' -not -path "$root$data" -not -path "$root$data/*" \
        -not -path "$root/run/user/*" | sed "s|^$root||"
)
if [ -n "$left" ]; then
    fail "left after purge:"
    echo "$left" | grep -v '^$' | sort -u | sed 's/^/  /'
else
    echo "nothing of the package's left outside $data"
fi

phase "done"
if [ "$failures" -ne 0 ]; then
    echo "install test ($suite) FAILED ($failures)"
    exit 1
fi
echo "install test ($suite) OK in $(($(date +%s) - start)) s"
