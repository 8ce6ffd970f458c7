#!/usr/bin/env bash
# Rebuilds the default theme's generated files in theme/default/:
# the pictures, icons and settings (drawn by the Qt program here) and the
# licence text (Windows-1250, from licence.utf8.txt).
#   generate.sh [PREVIEW.png]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
theme="$(dirname "$here")"
build="${NEBRIN_GENERATOR_BUILD:-${TMPDIR:-/tmp}/nebrin-theme-generator}"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 >/dev/null
"$build/nebrin-theme-generator" "$theme" "$@"
iconv -f UTF-8 -t CP1250 "$here/licence.utf8.txt" > "$theme/22-licence.txt.tmp"
mv "$theme/22-licence.txt.tmp" "$theme/22-licence.txt"
