#!/usr/bin/env bash
# Builds the Qt-free libraries and every test with AddressSanitizer (with its
# leak checker) and UndefinedBehaviorSanitizer in a build folder of their own
# and runs the whole test suite there. Any sanitizer report fails the run,
# also one from a child process whose exit status a test does not look at:
# reports are written to files and the run fails when any file appears.
# The Qt program is built and tested in the normal build (tools/dev.sh test)
# only: NEBRIN_UI is off here.
#
# Environment: NEBRIN_ASAN_BUILD_DIR (default build-asan).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
build=${NEBRIN_ASAN_BUILD_DIR:-build-asan}
jobs=$(nproc 2>/dev/null || echo 2)

bash tools/install-deps.sh

if [ ! -f "$build/CMakeCache.txt" ]; then
  gen=()
  command -v ninja >/dev/null && gen=(-G Ninja)
  cmake -S . -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DNEBRIN_SANITIZE=address,undefined -DNEBRIN_UI=OFF -DNEBRIN_BENCH=OFF -DNEBRIN_WERROR=ON
fi

reports="$here/$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
# The build runs the test programs too (test discovery), so the options hold
# from here on. -fno-sanitize-recover=all (root CMakeLists) makes every
# undefined-behaviour report fatal; halt_on_error says the same at run time.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:log_path=$reports/asan"
export LSAN_OPTIONS="log_path=$reports/lsan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"

cmake --build "$build" -j "$jobs"

status=0
(cd "$build" && ctest --output-on-failure -j "$jobs" -LE vm) || status=$?

if [ -n "$(ls -A "$reports")" ]; then
  echo "== sanitizer reports" >&2
  for f in "$reports"/*; do
    echo "-- $f" >&2
    cat "$f" >&2
  done
  status=1
fi
if [ $status -ne 0 ]; then
  echo "sanitizer test run failed" >&2
fi
exit $status
