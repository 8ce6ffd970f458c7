#!/usr/bin/env bash
# One entry point for a fresh Debian 12 or 13 machine:
#   tools/dev.sh run    install what is missing, build, start the dialer on the
#                       bundled default theme and the simulated line
#   tools/dev.sh test   install what is missing, build, run the whole test suite
#   tools/dev.sh package [--theme PKG.nbt --name NAME]
#                       install what is missing, build Release and make
#                       build-package/nebrin_<version>_<arch>.deb (with a
#                       provider's theme and name when given), check it
#                       and run lintian on it
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
build=${NEBRIN_BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)

bash tools/install-deps.sh

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
command -v ccache >/dev/null && generator+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

configure() {
  [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" "${generator[@]}" "$@"
}

# The Debian package: a Release tree of its own installing under /usr, built
# with Debian's hardening flags; cpack makes the .deb from it.
package() {
  local theme="" name=""
  while [ $# -gt 0 ]; do
    case "$1" in
      --theme) theme=${2:?--theme needs a theme package}; shift 2 ;;
      --name) name=${2:?--name needs a name}; shift 2 ;;
      *) echo "tools/dev.sh package: unknown argument $1" >&2; exit 2 ;;
    esac
  done
  if [ -n "$theme$name" ] && { [ -z "$theme" ] || [ -z "$name" ]; }; then
    echo "tools/dev.sh package: --theme and --name go together" >&2
    exit 2
  fi
  [ -z "$theme" ] || theme=$(realpath -e "$theme")
  local out=${NEBRIN_PACKAGE_BUILD_DIR:-build-package}
  export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
  # dpkg-buildflags gives Debian's flags (hardening included); without -g,
  # as the package is stripped.
  local cflags cxxflags cppflags ldflags
  cppflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)
  cflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CFLAGS | sed 's/\(^\| \)-g\( \|$\)/ /')
  cxxflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS | sed 's/\(^\| \)-g\( \|$\)/ /')
  ldflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)
  cmake -S . -B "$out" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DNEBRIN_TESTS=OFF -DNEBRIN_BENCH=OFF \
    -DCMAKE_C_FLAGS="$cppflags $cflags" -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags"
  cmake --build "$out" -j "$jobs"
  rm -f "$out"/nebrin_*.deb
  (cd "$out" && cpack -G DEB -D NEBRIN_PACKAGE_THEME="$theme" -D NEBRIN_PACKAGE_PROVIDER="$name" >/dev/null)
  local deb
  deb=$(ls "$out"/nebrin_*_"$(dpkg --print-architecture)".deb)
  bash tests/packaging/check_deb.sh "$deb" ${theme:+--theme "$theme" --name "$name"}
  if command -v lintian >/dev/null; then
    echo "lintian:"
    lintian --info --tag-display-limit 0 "$deb" || { echo "tools/dev.sh package: lintian found errors" >&2; exit 1; }
  fi
  echo "$deb ($(du -k "$deb" | cut -f1) KiB)"
  dpkg-deb -f "$deb" Depends Recommends
}

case "${1:-}" in
  run)
    configure
    cmake --build "$build" -j "$jobs" --target nebrin_bundle
    if [ -x "$build/bin/nebrin" ]; then
      export NEBRIN_RAS=${NEBRIN_RAS:-sim}
      exec "$build/bin/nebrin"
    fi
    exec "$build/bin/nebrin-theme" --help
    ;;
  test)
    configure -DNEBRIN_WERROR=ON
    cmake --build "$build" -j "$jobs"
    cd "$build"
    # Tests that need a real X server start their own Xvfb; the other Qt
    # tests draw on the offscreen platform when there is no display.
    exec ctest --output-on-failure -j "$jobs"
    ;;
  package)
    shift
    package "$@"
    ;;
  *)
    echo "usage: tools/dev.sh run|test|package [--theme PKG.nbt --name NAME]" >&2
    exit 2
    ;;
esac
