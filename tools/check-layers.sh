#!/bin/bash
# Checks the layering of the Qt-free core: no core folder includes a Qt
# header or a UI header, and no layer includes a header of a layer above it.
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
for layer in "${!may[@]}"; do
  allowed=" $layer ${may[$layer]} "
  # Core files only: the */ui folders are the user interface.
  while IFS= read -r file; do
    while IFS= read -r hit; do
      line=${hit%%:*}
      text=${hit#*:}
      if [[ $text =~ \#include[[:space:]]*\<Q ]]; then
        echo "$file:$line: a Qt header in the core: $text"
        status=1
        continue
      fi
      [[ $text =~ \#include[[:space:]]*\"([^\"]+)\" ]] || continue
      inc=${BASH_REMATCH[1]}
      [[ $inc == */* ]] || continue
      top=${inc%%/*}
      if [[ $inc == */ui/* ]]; then
        echo "$file:$line: a UI header in the core: $text"
        status=1
      elif [[ -n ${may[$top]+x} && $allowed != *" $top "* ]]; then
        echo "$file:$line: $layer may not include $top: $text"
        status=1
      fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file")
  done < <(find "$layer" \( -path '*/ui' -o -path '*/ui/*' \) -prune -o -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.h.in' \) -print)
done
if ((status == 0)); then echo "layers: ok"; fi
exit $status
