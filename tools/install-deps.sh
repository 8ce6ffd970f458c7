#!/usr/bin/env bash
# Installs from Debian's packages everything Nebrin needs to build, run and test.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-webengine-dev qt6-webengine-dev-tools
  libgl-dev libegl-dev libxkbcommon-dev libfontconfig-dev libxcb1-dev
  xvfb xauth x11-utils xdotool imagemagick fonts-wine fonts-dejavu-core
  clang libclang-rt-14-dev valgrind
  # the style tools (.clang-format, tools/tidy.sh)
  clang-format clang-tidy
  ppp python3
  # the PPPoE access concentrator in a VM (tests/vm): qemu, the initramfs's
  # busybox, the concentrator, its name server and router advertisements
  qemu-system-x86 busybox-static pppoe dnsmasq-base radvd
  openbox tint2 xterm x11-xserver-utils qt6-translations-l10n
  # the accessibility bus and its Python client (tests/e2e/a11y*), a session
  # bus, and KWin for the stacking test
  at-spi2-core python3-pyatspi dbus dbus-x11 kwin-x11
  # a Wayland session with Xwayland for the end-to-end tests
  weston xwayland
  # the toolkit's Wayland platform, for a session without X (or NEBRIN_PLATFORM=wayland)
  qt6-wayland
  dpkg-dev lintian appstream librsvg2-bin debootstrap
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
