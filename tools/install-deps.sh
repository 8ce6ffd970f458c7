#!/usr/bin/env bash
# Installs from Debian's packages everything Nebrin needs to build, run and test,
# on Debian 12 (bookworm) and 13 (trixie) alike.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

# "a|b" names alternatives: the first one the release has is taken (version-free
# names first, so that no compiler version is written down here).
packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-webengine-dev qt6-webengine-dev-tools
  libgl-dev libegl-dev libxkbcommon-dev libfontconfig-dev libxcb1-dev
  xvfb xauth x11-utils xdotool imagemagick fonts-wine fonts-dejavu-core
  # clang's sanitizer and libFuzzer run-times (tools/ci-sanitize.sh, tools/fuzz.sh)
  clang "libclang-rt-dev|libclang-rt-14-dev" valgrind
  # the style tools (.clang-format, tools/tidy.sh)
  clang-format clang-tidy
  ppp python3
  # the PPPoE access concentrator in a VM (tests/vm): qemu, the initramfs's
  # busybox, the concentrator, its name server and router advertisements, the
  # network namespaces of its scenarios (ip)
  qemu-system-x86 busybox-static pppoe dnsmasq-base radvd iproute2
  # libraries of the NetworkManager the VM runs unpacked (never installed here)
  "libcurl3t64-gnutls|libcurl3-gnutls" libjansson4 "libpsl5t64|libpsl5" "libreadline8t64|libreadline8" libaudit1 libselinux1
  # Debian 13's kernel image is zstd-compressed (tests/vm/image.py unpacks it)
  zstd
  openbox tint2 xterm x11-xserver-utils qt6-translations-l10n
  # the accessibility bus and its Python client (tests/e2e/a11y*), a session
  # bus, and KWin for the stacking test
  at-spi2-core python3-pyatspi dbus dbus-x11 kwin-x11
  # a Wayland session with Xwayland for the end-to-end tests
  weston xwayland
  # the toolkit's Wayland platform, for a session without X (or NEBRIN_PLATFORM=wayland)
  qt6-wayland
  dpkg-dev lintian appstream librsvg2-bin debootstrap
  # the X resources a client holds (bench/soak.py)
  xrestop
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
available() { apt-cache policy "$1" 2>/dev/null | grep -q '^  Candidate: [^(]'; }

missing=()
for entry in "${packages[@]}"; do
  IFS='|' read -r -a names <<<"$entry"
  have=""
  for p in "${names[@]}"; do installed "$p" && have=$p && break; done
  [ -n "$have" ] || missing+=("$entry")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
wanted=()
for entry in "${missing[@]}"; do
  IFS='|' read -r -a names <<<"$entry"
  pick=""
  for p in "${names[@]}"; do available "$p" && pick=$p && break; done
  # None known: let apt-get name the first one in its error.
  wanted+=("${pick:-${names[0]}}")
done
$SUDO apt-get install -y -qq --no-install-recommends "${wanted[@]}" </dev/null
