#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer and UBSan) in their
# own build folder and runs each for a while, one after another.
#
#   tools/fuzz.sh [SECONDS] [HARNESS...]   default: 60 seconds, every harness
#
# Each run starts from the committed seeds in fuzz/corpus/<harness>/ and keeps
# what it finds in <build>/fuzz-work/<harness>/ (never in the source tree).
# A crash leaves its input in <build>/fuzz-work/artifacts/ and makes the script
# fail; fix the fault and copy the input into fuzz/corpus/<harness>/ so the
# corpus replay tests keep checking it. The last lines print executions and
# coverage (cov: edges, ft: features) per harness.
#
# Environment: NEBRIN_FUZZ_BUILD_DIR (default build-fuzz), NEBRIN_FUZZ_JOBS
# (build jobs, default 2).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
seconds=${1:-60}
shift || true
case "$seconds" in
  ''|*[!0-9]*) echo "usage: tools/fuzz.sh [SECONDS] [HARNESS...]" >&2; exit 2 ;;
esac
build=${NEBRIN_FUZZ_BUILD_DIR:-build-fuzz}
jobs=${NEBRIN_FUZZ_JOBS:-2}

bash tools/install-deps.sh

harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  for f in fuzz/*_fuzz.cpp; do
    h=$(basename "$f" _fuzz.cpp)
    harnesses+=("$h")
  done
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  gen=()
  command -v ninja >/dev/null && gen=(-G Ninja)
  CC=clang CXX=clang++ cmake -S . -B "$build" "${gen[@]}" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNEBRIN_FUZZ=ON -DNEBRIN_SANITIZE=address,undefined \
    -DNEBRIN_UI=OFF -DNEBRIN_TESTS=OFF -DNEBRIN_BENCH=OFF -DNEBRIN_WERROR=ON >/dev/null
fi
targets=()
for h in "${harnesses[@]}"; do targets+=("nebrin_fuzz_$h"); done
cmake --build "$build" --target "${targets[@]}" -j "$jobs"

work="$build/fuzz-work"
mkdir -p "$work/artifacts"
# Leaks fail a run too; a harness that needs more than 2 GiB or 10 s on one
# input has found a fault.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

failed=()
summary=()
for h in "${harnesses[@]}"; do
  corpus="$work/$h"
  mkdir -p "$corpus"
  cp -n fuzz/corpus/"$h"/* "$corpus"/ 2>/dev/null || true
  log="$work/$h.log"
  echo "== $h: $seconds s"
  set +e
  "$build/bin/nebrin_fuzz_$h" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=16384 -print_final_stats=1 -artifact_prefix="$work/artifacts/$h-" >"$log" 2>&1
  rc=$?
  set -e
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  line=$(printf '%-12s executions %-10s cov: %-6s ft: %s' "$h" "${execs:-?}" "${cov:-?}" "${ft:-?}")
  if [ $rc -ne 0 ]; then
    failed+=("$h")
    line="$line   FAILED (exit $rc; see $log)"
    grep -E 'ERROR|SUMMARY|property failed|runtime error' "$log" | head -5 || true
  fi
  echo "$line"
  summary+=("$line")
done

echo "== fuzzing summary"
printf '%s\n' "${summary[@]}"
echo "fuzz: $(( ${#harnesses[@]} - ${#failed[@]} )) passed, ${#failed[@]} failed"
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing found faults in: ${failed[*]}" >&2
  exit 1
fi
