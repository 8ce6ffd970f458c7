#!/bin/bash
# Probes tools/check-layers.sh: each case puts one file with one include into
# an empty tree and expects the check to pass or fail.
set -u
check=$(cd "$(dirname "$0")/../.." && pwd)/tools/check-layers.sh
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

failures=0
probe() {
  local expect=$1 file=$2 include=$3 tree=$tmp/tree
  rm -rf "$tree"
  mkdir -p "$tree/$(dirname "$file")"
  printf '#include %s\n' "$include" >"$tree/$file"
  if bash "$check" "$tree" >/dev/null; then got=pass; else got=fail; fi
  if [[ $got != "$expect" ]]; then
    echo "expected $expect, got $got: $file including $include"
    failures=$((failures + 1))
  fi
}

# The core: lower layers only, no Qt, no window.
probe pass connection/RasCon.cpp '"platform/Ras.h"'
probe fail storage/hbTar.cpp '"connection/RasCon.h"'
probe fail storage/hbTar.cpp '<QString>'
probe fail connection/RasCon.cpp '"connection/ui/TConnConfFrm.h"'
probe fail connection/RasCon.cpp '"ui/SkinFonts.h"'
# A layer's windows: its own layer, the layers below and their windows, ui/.
probe pass connection/ui/TConnConfFrm.cpp '<QWidget>'
probe pass connection/ui/TConnConfFrm.cpp '"connection/UserSettings.h"'
probe pass connection/ui/TConnConfFrm.cpp '"ui/SkinFonts.h"'
probe pass stats/ui/TStatsFrm.cpp '"connection/ui/ThbLogFrm.h"'
probe pass app/ui/web/WebMain.cpp '"app/WebMessage.h"'
probe pass app/ui/TMainFrm.cpp '"online/ui/TPopupFrm.h"'
probe fail connection/ui/ConnectionWiring.cpp '"app/MainConnectState.h"'
probe fail connection/ui/TConnConfFrm.cpp '"app/ui/TMainFrm.h"'
probe fail connection/ui/TConnConfFrm.cpp '"stats/StatsLayout.h"'
probe fail online/ui/TPopupFrm.cpp '"stats/ui/TStatsFrm.h"'
probe fail online/ui/http/HttpFetcher.cpp '"app/ui/WebPaneHost.h"'
# The shared window helpers: the whole core, no */ui folder.
probe pass ui/SkinFonts.cpp '"app/Desktop.h"'
probe pass ui/MessageBoxes.cpp '"ui/WindowHints.h"'
probe pass ui/WebViews.cpp '<QLibrary>'
probe fail ui/WebPaneHost.cpp '"online/ui/TPopupFrm.h"'

if ((failures)); then exit 1; fi
echo "layer probes: ok"
