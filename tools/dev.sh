#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine:
#   tools/dev.sh run    install what is missing, build, start the dialer on the
#                       bundled default theme and the simulated line
#   tools/dev.sh test   install what is missing, build, run the whole test suite
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
build=${NEBRIN_BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)

bash tools/install-deps.sh

configure() {
  local gen=()
  command -v ninja >/dev/null && gen=(-G Ninja)
  [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" "${gen[@]}" "$@"
}

case "${1:-}" in
  run)
    configure
    cmake --build "$build" -j "$jobs"
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
  *)
    echo "usage: tools/dev.sh run|test" >&2
    exit 2
    ;;
esac
