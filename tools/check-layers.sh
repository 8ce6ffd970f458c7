#!/bin/bash
# Checks the layering: no core folder includes a Qt header or a UI header,
# no layer includes a header of a layer above it, and the windows follow the
# same order: a */ui folder may include its own layer, the layers below it
# (their ui/ folders too) and the shared window helpers in ui/, which may
# include the whole core and no */ui folder.
# Usage: check-layers.sh [SOURCE_DIR]; exits 1 and lists the offending lines.
set -u
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root" || exit 2

# Layer: the folders its files may include from (besides its own).
declare -A may=(
  [base]=""
  [storage]="base"
  [platform]="base"
  [connection]="platform storage base"
  [stats]="connection platform storage base"
  [online]="platform storage base"
  [app]="online stats connection platform storage base"
)

status=0
fail() {
  echo "$1"
  status=1
}

# check FILE WHAT CORE WINDOWS UI: every quoted include of FILE (WHAT names
# its layer in messages) must name a folder of CORE or the ui/ folder of one
# of WINDOWS; UI=1 lets it include Qt and the shared helpers in ui/.
check() {
  local file=$1 what=$2 core=" $3 " windows=" $4 " ui=$5 hit line text inc top
  while IFS= read -r hit; do
    line=${hit%%:*}
    text=${hit#*:}
    if [[ $text =~ \#include[[:space:]]*\<Q ]]; then
      ((ui)) || fail "$file:$line: a Qt header in the core: $text"
      continue
    fi
    [[ $text =~ \#include[[:space:]]*\"([^\"]+)\" ]] || continue
    inc=${BASH_REMATCH[1]}
    [[ $inc == */* ]] || continue
    top=${inc%%/*}
    if [[ $inc == */ui/* || $top == ui ]]; then
      if ((!ui)); then
        fail "$file:$line: a UI header in the core: $text"
      elif [[ $top != ui && $windows != *" $top "* ]]; then
        fail "$file:$line: $what may not include $top/ui: $text"
      fi
    elif [[ -n ${may[$top]+x} && $core != *" $top "* ]]; then
      fail "$file:$line: $what may not include $top: $text"
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file")
}

sources() { find "$@" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.h.in' \) -print; }

all_core="${!may[*]}"
for layer in "${!may[@]}"; do
  [[ -d $layer ]] || continue
  below="$layer ${may[$layer]}"
  # The core: no Qt, no window.
  while IFS= read -r file; do
    check "$file" "$layer" "$below" "" 0
  done < <(sources "$layer" \( -path '*/ui' -o -path '*/ui/*' \) -prune -o)
  # The layer's windows: its core and those below, their windows, ui/.
  if [[ -d $layer/ui ]]; then
    while IFS= read -r file; do
      check "$file" "$layer/ui" "$below" "$below" 1
    done < <(sources "$layer/ui")
  fi
done
# The shared window helpers: the whole core, no */ui folder.
if [[ -d ui ]]; then
  while IFS= read -r file; do
    check "$file" "ui" "$all_core" "" 1
  done < <(sources ui)
fi
if ((status == 0)); then echo "layers: ok"; fi
exit $status
