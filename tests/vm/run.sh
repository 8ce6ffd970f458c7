#!/usr/bin/env bash
# The pppd line against a real PPPoE access concentrator: boots Debian's
# kernel under qemu (software emulation) with the host's root read-only
# inside, and runs tests/vm/scenarios.sh there. Exit status 0 passed, 1 failed,
# 77 skipped (what the VM needs is missing; the reason is printed).
#
# Environment: NEBRIN_BUILD_DIR (the build tree), NEBRIN_VM_BIN (the programs;
# default BUILD/bin),
# NEBRIN_VM_CACHE (kernel package and image; default BUILD/tests/vm/cache),
# NEBRIN_VM_ONLY (space-separated scenario names to run; default all),
# NEBRIN_VM_TIMEOUT (seconds for the whole VM run; default 1200).
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${NEBRIN_BUILD_DIR:?}" && pwd)
cache=${NEBRIN_VM_CACHE:-$build/tests/vm/cache}
out=$build/tests/vm/out
bin=${NEBRIN_VM_BIN:-$build/bin}

skip() { echo "SKIP: $*"; exit 77; }

[ "$(uname -m)" = x86_64 ] || skip "the VM runs on x86_64 only"
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is missing (package qemu-system-x86)"
[ -x /bin/busybox ] && /bin/busybox --list | grep -qx insmod || skip "/bin/busybox is missing (package busybox-static)"
command -v pppoe-server >/dev/null || [ -x /usr/sbin/pppoe-server ] || skip "pppoe-server is missing (package pppoe)"
[ -x /usr/sbin/pppd ] || skip "pppd is missing (package ppp)"
command -v dpkg-deb >/dev/null && command -v apt-get >/dev/null || skip "apt-get and dpkg-deb are needed to fetch the kernel"
command -v python3 >/dev/null || skip "python3 is missing"
[ "$(id -u)" -eq 0 ] || skip "the VM shares the host's root read-only and needs root to see all of it"
for f in nebrin-rasdial librasapi-pppd.so; do
  [ -e "$bin/$f" ] || skip "$f is not built"
done

mkdir -p "$cache"
t0=$(date +%s.%N)
if ! images=$(python3 "$here/image.py" "$cache" 2>"$cache/image.log"); then
  rc=$?
  [ "$rc" -eq 3 ] && skip "Debian's kernel package could not be fetched (no network to the mirror?): $(cat "$cache/image.log")"
  echo "FAIL: the VM image could not be made: $(cat "$cache/image.log")"
  exit 1
fi
# The resolvers of the name scenarios: unpacked, run from the VM's overlay.
# Without them those scenarios skip with the reason.
extra_note=
if ! python3 "$here/image.py" --unpack "$cache" systemd-resolved libsystemd-shared resolvconf openresolv \
  network-manager libnm0 libndp0 libteamdctl0 libmm-glib0 libbluetooth3 >/dev/null 2>"$cache/unpack.log"; then
  extra_note=$(tr '\n' ' ' <"$cache/unpack.log")
fi
vmlinux=$(sed -n 1p <<<"$images")
initrd=$(sed -n 2p <<<"$images")
t1=$(date +%s.%N)

rm -rf "$out"
mkdir -p "$out"
# The VM runs copies: editing the sources meanwhile does not disturb it.
cp "$here/scenarios.sh" "$here/gui.sh" "$here/../../platform/raspppd/nebrin-ppp-hook" "$out/"
cat >"$out/vm-run.sh" <<INNER
export NEBRIN_VM_BIN='$bin' NEBRIN_VM_OUT='$out'
export NEBRIN_VM_CACHE='$cache' NEBRIN_VM_UNPACK_NOTE='$(sed "s/'//g" <<<"$extra_note")'
export NEBRIN_VM_ONLY='${NEBRIN_VM_ONLY:-}' NEBRIN_VM_TRACE='${NEBRIN_VM_TRACE:-}' NEBRIN_VM_BOOTED_AT=\$(cut -d' ' -f1 /proc/uptime)
exec bash '$out/scenarios.sh'
INNER

echo "VM image ready in $(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.1f", b-a}') s; booting (tcg, 2 vCPUs, 2 GiB)"
# The script's output arrives on the second serial port, last its exit status.
timeout --kill-after=10 "${NEBRIN_VM_TIMEOUT:-1200}" qemu-system-x86_64 \
  -accel tcg -smp 2 -m 2048 -nographic -nodefaults -no-reboot \
  -kernel "$vmlinux" -initrd "$initrd" \
  -append "console=ttyS0 loglevel=4 panic=-1 nebrin_run=$out/vm-run.sh nebrin_out=$out" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs "local,path=$out,mount_tag=out,security_model=none,multidevs=remap" \
  -serial "file:$out/console.log" -serial stdio </dev/null | tee "$out/vm.log"
qrc=${PIPESTATUS[0]}
t2=$(date +%s.%N)
echo "VM ran $(awk -v a="$t1" -v b="$t2" 'BEGIN{printf "%.1f", b-a}') s (qemu start to power-off)"
status=$(tr -d '\r' <"$out/vm.log" | sed -n 's/^nebrin-vm-exit \([0-9]*\)$/\1/p' | tail -1)
if [ -z "$status" ]; then
  echo "FAIL: the VM ended without a result (qemu status $qrc); kernel console:"
  tail -30 "$out/console.log"
  exit 1
fi
[ "$status" -eq 0 ] && exit 0
exit 1
