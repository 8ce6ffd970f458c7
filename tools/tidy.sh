#!/usr/bin/env bash
# Runs clang-tidy with the root .clang-tidy over the Qt-free core: base/,
# storage/, platform/ (the line libraries and the pppd helper included),
# connection/, stats/, online/, app/ (not the */ui folders) and the programs
# in tools/. Exits 1 when it reports anything, 0 when the core is clean.
#
#   tools/tidy.sh [FILE...]   default: every core file the build compiles
#
# Environment: NEBRIN_BUILD_DIR (default build; configured here when it has no
# compile_commands.json yet), NEBRIN_TIDY_JOBS (default 2).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
build=${NEBRIN_BUILD_DIR:-build}
jobs=${NEBRIN_TIDY_JOBS:-2}

tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [ -z "$tidy" ]; then
  bash tools/install-deps.sh
  tidy=$(command -v clang-tidy-14 || command -v clang-tidy)
fi

if [ ! -f "$build/compile_commands.json" ]; then
  generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  cmake -S . -B "$build" "${generator[@]}" >/dev/null
fi

files=("$@")
if [ ${#files[@]} -eq 0 ]; then
  mapfile -t files < <(python3 - "$build/compile_commands.json" "$here" <<'PY'
import json, os, re, sys
commands, root = sys.argv[1], os.path.realpath(sys.argv[2])
core = re.compile(r"(base|storage|platform|connection|stats|online|app|tools)/")
seen = set()
for entry in json.load(open(commands)):
    path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    rel = os.path.relpath(path, root)
    if core.match(rel) and "/ui/" not in rel and rel not in seen:
        seen.add(rel)
        print(rel)
PY
  )
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "tidy: no core files in $build/compile_commands.json" >&2
  exit 2
fi

# Every finding is an error, so that a single one fails the run. clang-tidy
# also counts on standard error the warnings it kept quiet (system headers,
# checks not chosen); those counts are left out.
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
status=0
printf '%s\n' "${files[@]}" | sort |
  xargs -d '\n' -P "$jobs" -n 4 "$tidy" -p "$build" --quiet --warnings-as-errors='*' 2>"$errors" || status=$?
grep -v -E '^[0-9]+ (warnings?|errors?)( and [0-9]+ errors?)? generated\.$' "$errors" >&2 || true
if [ "$status" -ne 0 ]; then
  echo "tidy: findings above" >&2
  exit 1
fi
echo "tidy: ${#files[@]} files, clean"
