#!/usr/bin/env python3
"""Kernel and initramfs of the access-concentrator VM, made in a cache folder.

The kernel is Debian's own (package linux-image-<version>-amd64, fetched with
apt-get download and unpacked with dpkg-deb, never installed): its compressed
vmlinuz is unpacked to the plain ELF vmlinux that qemu boots by its PVH entry.
The initramfs holds busybox (busybox-static), the modules the VM needs with
their dependencies in load order, and tests/vm/init.

    image.py CACHE        prints CACHE/vmlinux and CACHE/initramfs.cpio.gz
    image.py --unpack CACHE PACKAGE...
                          fetches the packages the same way (never installed)
                          and unpacks each into CACHE/unpacked/PACKAGE; prints
                          the folders (programs the VM runs from its overlay)
Exit status 0 made (or already there), 3 the kernel package could not be had
(no network to the mirror, no apt), 1 anything else.
"""
import glob
import gzip
import io
import lzma
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
# The concentrator's pppd talks to pppoe-server's user-mode relay over a pty
# (ppp_async); the subscriber's pppd uses the kernel's PPPoE (pppoe).
MODULES = ["virtio_pci", "9pnet_virtio", "9p", "overlay", "ppp_generic", "pppox", "pppoe", "ppp_async", "veth"]
NO_PACKAGE = 3


class NoPackage(Exception):
    pass


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw).stdout


def kernel_package_name():
    """linux-image-<abi>-amd64, the package Debian's linux-image-amd64 points at."""
    try:
        out = run(["apt-cache", "depends", "linux-image-amd64"])
    except (OSError, subprocess.CalledProcessError) as e:
        raise NoPackage("apt-cache cannot name the kernel package: %s" % e)
    for m in re.finditer(r"Depends:\s*(linux-image-[0-9][^\s]*-amd64)", out):
        return m.group(1)
    raise NoPackage("apt-cache names no kernel package for linux-image-amd64")


def fetch(cache):
    """The kernel package in the cache: a cached one, else apt-get download
    (with a private package list when the system's is stale or missing)."""
    override = os.environ.get("NEBRIN_VM_KERNEL_DEB")
    if override:
        if not os.path.isfile(override):
            raise NoPackage("NEBRIN_VM_KERNEL_DEB names no file: %s" % override)
        return override
    try:
        name = kernel_package_name()
    except NoPackage:
        name = None
    if name:
        have = sorted(glob.glob(os.path.join(cache, name + "_*.deb")))
        if have:
            return have[-1]
    errors = []
    if name:
        try:
            run(["apt-get", "download", "-q", name], cwd=cache)
        except (OSError, subprocess.CalledProcessError) as e:
            errors.append(getattr(e, "stderr", "") or str(e))
    if not (name and glob.glob(os.path.join(cache, name + "_*.deb"))):
        # The system's list may be stale (the mirror dropped that version) or
        # absent: a private list, leaving the system's untouched.
        lists = os.path.join(cache, "apt-lists")
        os.makedirs(os.path.join(lists, "partial"), exist_ok=True)
        opts = ["-o", "Dir::State::Lists=" + lists, "-o", "Debug::NoLocking=1", "-q"]
        try:
            run(["apt-get"] + opts + ["update"])
            out = run(["apt-cache"] + opts + ["depends", "linux-image-amd64"])
            m = re.search(r"Depends:\s*(linux-image-[0-9][^\s]*-amd64)", out)
            if not m:
                raise NoPackage("the package list names no kernel package")
            name = m.group(1)
            run(["apt-get"] + opts + ["download", name], cwd=cache)
        except (OSError, subprocess.CalledProcessError) as e:
            errors.append(getattr(e, "stderr", "") or str(e))
    have = sorted(glob.glob(os.path.join(cache, (name or "linux-image-") + "*_*.deb")))
    if not have:
        # Any kernel package fetched earlier still boots.
        have = sorted(glob.glob(os.path.join(cache, "linux-image-*-amd64_*.deb")))
    if not have:
        raise NoPackage("apt-get download %s failed: %s" % (name or "linux-image-amd64",
                                                            " / ".join(x.strip() for x in errors)[-400:]))
    for old in glob.glob(os.path.join(cache, "linux-image-*.deb")):
        if old != have[-1]:
            os.remove(old)
    return have[-1]


def fetch_package(cache, name):
    """The newest PACKAGE_*.deb in the cache, else apt-get download (with a
    private package list when the system's does not have it)."""
    def cached():
        have = sorted(glob.glob(os.path.join(cache, name + "_*.deb")))
        return have[-1] if have else None
    if cached():
        return cached()
    errors = []
    try:
        run(["apt-get", "download", "-q", name], cwd=cache)
    except (OSError, subprocess.CalledProcessError) as e:
        errors.append(getattr(e, "stderr", "") or str(e))
    if not cached():
        lists = os.path.join(cache, "apt-lists")
        os.makedirs(os.path.join(lists, "partial"), exist_ok=True)
        opts = ["-o", "Dir::State::Lists=" + lists, "-o", "Debug::NoLocking=1", "-q"]
        try:
            if not glob.glob(os.path.join(lists, "*Packages*")):
                run(["apt-get"] + opts + ["update"])
            run(["apt-get"] + opts + ["download", name], cwd=cache)
        except (OSError, subprocess.CalledProcessError) as e:
            errors.append(getattr(e, "stderr", "") or str(e))
    if not cached():
        raise NoPackage("apt-get download %s failed: %s" % (name, " / ".join(x.strip() for x in errors)[-400:]))
    return cached()


def unpack_packages(cache, names):
    """Each package unpacked into CACHE/unpacked/NAME (again when its .deb changed).
    One that cannot be had leaves the others unpacked; NoPackage names it at the end."""
    os.makedirs(cache, exist_ok=True)
    out, missing = [], []
    for name in names:
        try:
            deb = fetch_package(cache, name)
        except NoPackage as e:
            missing.append(str(e))
            continue
        dest = os.path.join(cache, "unpacked", name)
        stamp = dest + ".stamp"
        if not (os.path.isdir(dest) and os.path.exists(stamp) and open(stamp).read() == deb):
            shutil.rmtree(dest, ignore_errors=True)
            os.makedirs(dest)
            run(["dpkg-deb", "-x", deb, dest])
            with open(stamp, "w") as f:
                f.write(deb)
        out.append(dest)
    if missing:
        raise NoPackage("; ".join(missing))
    return out


def unzstd(data):
    """A zstd stream through Debian's zstd tool (Python has no zstd before 3.14)."""
    if not shutil.which("zstd"):
        raise RuntimeError("the kernel is zstd-compressed and zstd is missing (tools/install-deps.sh installs it)")
    # The stream is followed by the rest of the image: zstd reads the first
    # frame and complains about what follows, which is no error here.
    done = subprocess.run(["zstd", "-dcq"], input=data, capture_output=True)
    return done.stdout


def unpack_vmlinux(vmlinuz, out):
    """The ELF kernel inside a bzImage: xz (Debian 12), zstd (Debian 13) or gzip."""
    data = open(vmlinuz, "rb").read()
    for magic, fmt in ((b"\xfd7zXZ\x00", "xz"), (b"\x28\xb5\x2f\xfd", "zstd"), (b"\x1f\x8b\x08", "gzip")):
        at = data.find(magic)
        while at >= 0:
            try:
                if fmt == "gzip":
                    plain = gzip.GzipFile(fileobj=io.BytesIO(data[at:])).read()
                elif fmt == "xz":
                    plain = lzma.LZMADecompressor(format=lzma.FORMAT_XZ).decompress(data[at:])
                else:
                    plain = unzstd(data[at:])
            except (lzma.LZMAError, OSError, EOFError):
                plain = b""
            if plain[:4] == b"\x7fELF":
                with open(out + ".tmp", "wb") as f:
                    f.write(plain)
                os.replace(out + ".tmp", out)
                return
            at = data.find(magic, at + 1)
    raise RuntimeError("no ELF kernel found inside %s" % vmlinuz)


# A module file as Debian ships it: plain (Debian 12) or compressed (.ko.xz
# on Debian 13); busybox's insmod wants the plain one.
MODULE_SUFFIXES = (".ko", ".ko.xz", ".ko.gz")


def module_bytes(path):
    data = open(path, "rb").read()
    if path.endswith(".xz"):
        return lzma.decompress(data, format=lzma.FORMAT_XZ)
    if path.endswith(".gz"):
        return gzip.decompress(data)
    return data


def module_order(moddir):
    """The wanted modules and their dependencies, each after what it needs:
    (name, plain module bytes)."""
    paths = {}
    for root, _, files in os.walk(os.path.join(moddir, "kernel")):
        for f in files:
            for suffix in MODULE_SUFFIXES:
                if f.endswith(suffix):
                    paths[f[:-len(suffix)].replace("-", "_")] = os.path.join(root, f)
    # Built into the kernel (Debian 13's has virtio_pci so): nothing to load.
    builtin = set()
    try:
        with open(os.path.join(moddir, "modules.builtin")) as f:
            builtin = {os.path.basename(line.strip())[:-3].replace("-", "_") for line in f if line.strip()}
    except OSError:
        pass
    order, seen, blobs = [], set(), {}

    def add(name):
        name = name.replace("-", "_")
        if name in seen:
            return
        seen.add(name)
        if name not in paths and name in builtin:
            return
        if name not in paths:
            raise RuntimeError("module %s is not in the kernel package" % name)
        blob = blobs[name] = module_bytes(paths[name])
        m = re.search(rb"(?:^|\x00)depends=([^\x00]*)\x00", blob)
        for dep in (m.group(1).decode().split(",") if m else []):
            if dep:
                add(dep)
        order.append(name)

    for name in MODULES:
        add(name)
    return [(n, blobs[n]) for n in order]


class Cpio:
    """A newc archive (what the kernel unpacks as initramfs)."""

    def __init__(self):
        self.out = io.BytesIO()
        self.ino = 1

    def _entry(self, name, mode, data=b"", nlink=1):
        name_b = name.encode() + b"\x00"
        hdr = "070701" + "".join("%08x" % v for v in (
            self.ino, mode, 0, 0, nlink, 0, len(data), 0, 0, 0, 0, len(name_b), 0))
        self.ino += 1
        self.out.write(hdr.encode() + name_b)
        self.out.write(b"\x00" * ((4 - (110 + len(name_b)) % 4) % 4))
        self.out.write(data)
        self.out.write(b"\x00" * ((4 - len(data) % 4) % 4))

    def dir(self, name):
        self._entry(name, 0o040755, nlink=2)

    def file(self, name, data, mode=0o644):
        self._entry(name, 0o100000 | mode, data)

    def symlink(self, name, target):
        self._entry(name, 0o120777, target.encode())

    def bytes(self):
        self._entry("TRAILER!!!", 0)
        return self.out.getvalue()


def build(cache):
    os.makedirs(cache, exist_ok=True)
    deb = fetch(cache)
    stamp_src = [deb, os.path.join(HERE, "init"), os.path.abspath(__file__), "/bin/busybox"]
    vmlinux = os.path.join(cache, "vmlinux")
    initrd = os.path.join(cache, "initramfs.cpio.gz")
    stamp = os.path.join(cache, "image.stamp")
    want = "\n".join("%s %d" % (p, os.stat(p).st_mtime_ns) for p in stamp_src)
    if os.path.exists(vmlinux) and os.path.exists(initrd) and os.path.exists(stamp) \
            and open(stamp).read() == want:
        return vmlinux, initrd

    tmp = tempfile.mkdtemp(prefix="unpack-", dir=cache)
    try:
        run(["dpkg-deb", "-x", deb, tmp])
        vmlinuz = glob.glob(os.path.join(tmp, "boot", "vmlinuz-*"))
        # Debian 12 has them in /lib/modules, Debian 13 (merged /usr) in /usr/lib/modules.
        moddirs = glob.glob(os.path.join(tmp, "lib", "modules", "*")) + \
            glob.glob(os.path.join(tmp, "usr", "lib", "modules", "*"))
        if len(vmlinuz) != 1 or len(moddirs) != 1:
            raise RuntimeError("%s does not hold one kernel and its modules" % deb)
        unpack_vmlinux(vmlinuz[0], vmlinux)
        cpio = Cpio()
        for d in ("bin", "dev", "proc", "sys", "mnt", "lib", "lib/modules", "newroot", "lower", "upper"):
            cpio.dir(d)
        cpio.file("bin/busybox", open("/bin/busybox", "rb").read(), 0o755)
        cpio.symlink("bin/sh", "busybox")
        cpio.file("init", open(os.path.join(HERE, "init"), "rb").read(), 0o755)
        order = module_order(moddirs[0])
        for name, blob in order:
            cpio.file("lib/modules/%s.ko" % name, blob)
        cpio.file("lib/modules/order", ("\n".join(n for n, _ in order) + "\n").encode())
        with gzip.open(initrd + ".tmp", "wb", compresslevel=1) as f:
            f.write(cpio.bytes())
        os.replace(initrd + ".tmp", initrd)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    with open(stamp, "w") as f:
        f.write(want)
    return vmlinux, initrd


def report(paths):
    """Prints what `paths()` gives, a line each; the exit status."""
    try:
        for p in paths():
            print(p)
    except NoPackage as e:
        print("image.py: %s" % e, file=sys.stderr)
        return NO_PACKAGE
    except Exception as e:  # noqa: BLE001 - one clear line for the test log
        print("image.py: %s" % e, file=sys.stderr)
        return 1
    return 0


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "--unpack":
        return report(lambda: unpack_packages(sys.argv[2], sys.argv[3:]))
    if len(sys.argv) != 2:
        print("usage: image.py CACHE_DIR", file=sys.stderr)
        return 2
    return report(lambda: build(sys.argv[1]))

if __name__ == "__main__":
    sys.exit(main())
