#!/usr/bin/env bash
# The README's test command (bash tools/dev.sh test) in a fresh Debian 13
# (trixie) file system:
#   tools/debian13-test.sh [--keep-build]
#   tools/debian13-test.sh --vm "create_and_dial SCENARIO..."
#
# A minimal trixie (tools/debian-root.sh) is unpacked into a temporary folder,
# entered with chroot (/proc, /dev, /sys mounted), this tree (the files git
# knows, changes included) copied into /root/nebrin, and the command run
# there as root, as on a fresh machine: it installs what it needs from
# Debian 13's packages, builds with -Werror and runs every test.
#
# The system with the packages installed is kept as a tarball in the cache
# too (one per version of tools/install-deps.sh; a new version starts from
# the last one's), so a later run starts at the build. --keep-build keeps the build folder in the cache as well
# (trixie-build), for a quick run again after a change.
#
# --vm runs only the VM test's named scenarios there (NEBRIN_VM_ONLY of
# tests/vm/run.sh): the VM is then made from Debian 13's kernel and packages.
# It builds what running needs in the kept build folder (configured first
# when there is none); the log is build-debian13/vm.log, the VM's results
# stay in the kept build folder's tests/vm/out.
#
# Needs root, debootstrap and the network to Debian's mirror; without them it
# says why and exits 0 (skipped). Exit status: the test command's. The log is
# build-debian13/test.log. Environment as tools/debian-root.sh says.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

keep_build=""
vm_only=""
while [ $# -gt 0 ]; do
    case "$1" in
        --keep-build) keep_build=1; shift ;;
        --vm) vm_only=${2:?--vm needs the scenarios, create_and_dial first}; keep_build=1; shift 2 ;;
        *) echo "usage: tools/debian13-test.sh [--keep-build] [--vm \"create_and_dial SCENARIO...\"]" >&2; exit 2 ;;
    esac
done

suite=trixie
debian_root_what="Debian 13 test"
out=$here/build-debian13
debian_root_log=$out
# shellcheck source=tools/debian-root.sh
. "$here/tools/debian-root.sh"
debian_root_checks "$suite" tar sha256sum

start=$(date +%s)
phase() { echo "== Debian 13: $* (after $(($(date +%s) - start)) s)"; }
mkdir -p "$out"

arch=$(dpkg --print-architecture)
deps=$(sha256sum tools/install-deps.sh | cut -c1-12)
dev="$debian_root_cache/$suite-dev-$arch-$deps.tar"
if [ -f "$dev" ]; then
    phase "fresh $suite with the packages of tools/install-deps.sh ($dev)"
    debian_root_make "$suite" "$dev"
else
    # From the system of an earlier install-deps.sh, when there is one: it
    # then installs only what was added.
    older=$(ls -t "$debian_root_cache/$suite-dev-$arch-"*.tar 2>/dev/null | head -1) || true
    debian_root_make "$suite" "$older"
    phase "fresh $suite in $root: tools/install-deps.sh (kept in $dev)"
    cp tools/install-deps.sh "$root/tmp/"
    in_root bash /tmp/install-deps.sh >"$out/install-deps.log" 2>&1 || {
        tail -30 "$out/install-deps.log"
        echo "Debian 13 test FAILED: tools/install-deps.sh"
        exit 1
    }
    rm "$root/tmp/install-deps.sh"
    tar -C "$root" --exclude=./proc/* --exclude=./sys/* --exclude=./dev/* --exclude=./var/cache/apt/archives/* \
        -cf "$dev.tmp" .
    rm -f "$debian_root_cache/$suite-dev-$arch-"*.tar
    mv "$dev.tmp" "$dev"
fi

phase "this tree into /root/nebrin"
mkdir -p "$root/root/nebrin"
# Other users run the built programs too (the VM test's second subscriber):
# root's folder is open to them, as a checkout outside it would be.
chmod 755 "$root/root"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do
        [ -e "$f" ] && printf '%s\0' "$f"
    done | tar --null -T - -cf - | tar -C "$root/root/nebrin" -xf -
else
    tar --exclude='./build*' --exclude=./out -cf - . | tar -C "$root/root/nebrin" -xf -
fi
if [ -n "$keep_build" ]; then
    mkdir -p "$debian_root_cache/$suite-build" "$root/root/nebrin/build"
    mount --bind "$debian_root_cache/$suite-build" "$root/root/nebrin/build"
fi

if [ -n "$vm_only" ]; then
    phase "the VM test's scenarios $vm_only"
    set +e
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME=/root USER=root \
        NEBRIN_VM_ONLY="$vm_only" bash -c 'cd /root/nebrin &&
            { [ -f build/CMakeCache.txt ] || cmake -S . -B build -G Ninja -DNEBRIN_WERROR=ON; } &&
            cmake --build build -j "$(nproc)" --target nebrin_bundle &&
            NEBRIN_BUILD_DIR=$PWD/build bash tests/vm/run.sh' >"$out/vm.log" 2>&1
    status=$?
    set -e
    sed -n '/^== results/,$p' "$out/vm.log"
    [ "$status" -eq 0 ] || { tail -5 "$out/vm.log"; echo "Debian 13 VM run FAILED (exit $status, log $out/vm.log)"; }
    exit "$status"
fi

phase "bash tools/dev.sh test"
test_start=$(date +%s)
set +e
chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME=/root USER=root \
    bash -c 'cd /root/nebrin && bash tools/dev.sh test' 2>&1 | tee "$out/test.log" | grep --line-buffered -E \
    '^(FAILED|[0-9]+% tests passed|The following tests|[[:space:]]+[0-9]+ - )|error:|Errors while|\*\*\*Failed|Timeout'
status=${PIPESTATUS[0]}
set -e
summary=$(grep -E '^[0-9]+% tests passed' "$out/test.log" | tail -1)
echo "Debian 13: ${summary:-no test summary} ($(($(date +%s) - test_start)) s for the command, log $out/test.log)"
if [ "$status" -ne 0 ]; then
    echo "Debian 13 test FAILED (exit $status)"
    exit "$status"
fi
echo "Debian 13 test OK in $(($(date +%s) - start)) s"
