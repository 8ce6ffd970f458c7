# A fresh Debian file system to run something in, for tools/install-test.sh
# and tools/debian13-test.sh (sourced, not run):
#
#   debian_root_checks SUITE TOOL...  exits 0 with "<what> SKIPPED: <why>" when
#                                     not root, a tool is missing or the mirror
#                                     cannot be reached
#   debian_root_make SUITE            unpacks a minimal SUITE (debootstrap
#                                     --variant=minbase, made once and kept as a
#                                     tarball in the cache) into a temporary
#                                     folder $root, mounts /proc, /dev and /sys
#                                     there, and removes it all on exit
#   in_root COMMAND...                runs COMMAND as root in it, in a plain
#                                     environment
#
# Set before sourcing: debian_root_what (the name in SKIPPED/FAILED lines),
# debian_root_log (a folder for debootstrap's log). Environment:
# NEBRIN_DEBIAN_MIRROR (the mirror of this machine's own apt sources, else
# http://deb.debian.org/debian), NEBRIN_INSTALL_TEST_CACHE
# (/var/cache/nebrin-install-test: the tarballs and the downloaded packages,
# shared by the suites and scripts).

debian_root_cache=${NEBRIN_INSTALL_TEST_CACHE:-/var/cache/nebrin-install-test}

# The Debian mirror this machine's apt uses (one-line or deb822 sources).
debian_root_default_mirror() {
    local m
    m=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
        grep -oE '(https?://[^ ]+/debian)/?( |$)' | grep -v security | head -1 | tr -d ' ') || true
    echo "${m%/}"
}
mirror=${NEBRIN_DEBIAN_MIRROR:-$(debian_root_default_mirror)}
mirror=${mirror:-http://deb.debian.org/debian}

debian_root_skip() {
    echo "$debian_root_what SKIPPED: $*"
    exit 0
}

debian_root_checks() {
    local suite=$1 tool
    shift
    [ "$(id -u)" -eq 0 ] || debian_root_skip "it needs root (chroot and mounts)"
    for tool in debootstrap chroot mount "$@"; do
        command -v "$tool" >/dev/null || debian_root_skip "$tool is missing (bash tools/install-deps.sh installs it)"
    done
    python3 - "$mirror/dists/$suite/Release" <<'PY' || debian_root_skip "Debian's mirror $mirror cannot be reached"
import sys, urllib.request
urllib.request.urlopen(urllib.request.Request(sys.argv[1], method="HEAD"), timeout=20)
PY
}

# The cached minimal SUITE: prints the tarball's path.
debian_root_base() {
    local suite=$1 arch
    arch=$(dpkg --print-architecture)
    local base="$debian_root_cache/$suite-minbase-$arch.tar"
    mkdir -p "$debian_root_cache/archives/partial" "$debian_root_log"
    if [ ! -f "$base" ]; then
        echo "== debootstrap --variant=minbase $suite (once; kept in $base)" >&2
        local stage
        stage=$(mktemp -d /var/tmp/nebrin-debootstrap.XXXXXX)
        debootstrap --variant=minbase --arch="$arch" --cache-dir="$debian_root_cache/archives" "$suite" "$stage" \
            "$mirror" >"$debian_root_log/debootstrap-$suite.log" 2>&1 || {
            tail -20 "$debian_root_log/debootstrap-$suite.log" >&2
            rm -rf --one-file-system "$stage"
            echo "$debian_root_what FAILED: debootstrap $suite" >&2
            exit 1
        }
        chmod 755 "$stage"
        tar -C "$stage" -cf "$base.tmp" .
        mv "$base.tmp" "$base"
        rm -rf --one-file-system "$stage"
    fi
    echo "$base"
}

root=""
debian_root_cleanup_hooks=()
debian_root_cleanup() {
    set +e
    local hook proc m
    for hook in "${debian_root_cleanup_hooks[@]}"; do "$hook"; done
    [ -n "$root" ] || return 0
    # Whatever still runs inside the chroot was started here.
    for proc in /proc/[0-9]*; do
        [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ] && kill -9 "${proc#/proc/}" 2>/dev/null
    done
    sleep 1
    for m in $(awk -v r="$root" 'index($2, r) == 1 { print $2 }' /proc/mounts | sort -r); do
        umount "$m" 2>/dev/null || umount -l "$m"
    done
    rm -rf --one-file-system "$root"
}

# debian_root_make SUITE [TARBALL]: the root from TARBALL (default: the
# cached minimal SUITE).
debian_root_make() {
    local suite=$1 tarball=${2:-}
    [ -n "$tarball" ] || tarball=$(debian_root_base "$suite")
    root=$(mktemp -d /var/tmp/nebrin-root.XXXXXX)
    trap debian_root_cleanup EXIT
    tar -C "$root" -xf "$tarball"
    # It is the chroot's /: every user may enter it.
    chmod 755 "$root"
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount --make-rslave "$root/dev"
    mount --rbind /sys "$root/sys"
    mount --make-rslave "$root/sys"
    mount --bind "$debian_root_cache/archives" "$root/var/cache/apt/archives"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    echo "deb $mirror $suite main" >"$root/etc/apt/sources.list"
    rm -f "$root"/etc/apt/sources.list.d/*
    # No services start in the chroot.
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
    chmod 755 "$root/usr/sbin/policy-rc.d"
}

in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME=/root "$@"; }
