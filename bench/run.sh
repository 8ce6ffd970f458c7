#!/usr/bin/env bash
# Builds the Release tree build-bench (when needed) and runs every benchmark
# against its yardstick, ending with one table: figure, yardstick, ratio,
# target. Extra arguments go to bench/run.py (e.g. --runs 5 --idle-seconds 20
# --only cipher,theme). BUILD_DIR overrides the build folder.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build-bench}"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNEBRIN_TESTS=OFF -DNEBRIN_BENCH=ON
fi

targets=(bench_cipher bench_theme nebrin-theme nebrin_default_theme)
[ -f "$root/bench/bench_tick.cpp" ] && targets+=(bench_tick)
if grep -q '^NEBRIN_UI:BOOL=ON' "$build/CMakeCache.txt"; then
  targets+=(nebrin nebrin-web-program firstpaint_yardstick web_yardstick rasapi-sim nebrin-rasdial)
fi
# The machine is shared: two jobs at most.
cmake --build "$build" --target "${targets[@]}" -j2

exec python3 "$root/bench/run.py" --build "$build" "$@"
