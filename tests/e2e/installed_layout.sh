#!/usr/bin/env bash
# An installation made with cmake --install runs from its prefix: the theme
# is read from <prefix>/share/nebrin/skin, html/ is made in the user's data
# folder and receives the offline page.
. "$(dirname "$0")/lib.sh"
[ -d "${NEBRIN_BUILD_DIR:-}" ] || die "build folder not given"
# Staged (DESTDIR): pppd's hooks go to /etc/ppp whatever the prefix, and the
# test leaves the machine's /etc alone.
stage="$WORK/stage"
prefix="$stage/prefix"
DESTDIR="$stage" cmake --install "$NEBRIN_BUILD_DIR" --prefix /prefix >"$WORK/install.log" 2>&1 ||
  die "install failed: $(cat "$WORK/install.log")"
[ -x "$stage/etc/ppp/ip-up.d/0010nebrin" ] || die "no pppd hook in the stage's etc/ppp"
[ -x "$prefix/bin/nebrin" ] || die "no bin/nebrin"
[ -f "$prefix/share/nebrin/skin/default.nbt" ] || die "no share/nebrin/skin/default.nbt"
[ -f "$prefix/share/applications/nebrin.desktop" ] || die "no desktop entry"
ls "$prefix"/share/icons/hicolor/*/apps/nebrin.* >/dev/null 2>&1 || die "no icon"

export XDG_DATA_HOME="$WORK/data"
# The command-line dialer finds the line libraries in the installed module
# folder, and the simulated line keeps its files in the data folder.
NEBRIN_RAS=sim "$prefix/bin/nebrin-rasdial" >"$WORK/rasdial.log" 2>&1 ||
  die "installed nebrin-rasdial failed: $(cat "$WORK/rasdial.log")"
[ -f "$XDG_DATA_HOME/nebrin/simline.ini" ] || die "the simulated line wrote no simline.ini to the data folder"

start_x
NEBRIN_BIN="$prefix/bin/nebrin"
unset NEBRIN_HOME
"$NEBRIN_BIN" >>"$WORK/nebrin.log" 2>&1 &
PIDS+=("$!")
wait_window Nebrin 30 >/dev/null || die "no main window; log: $(cat "$WORK/nebrin.log")"
for ((i = 0; i < 50; i++)); do
  [ -s "$XDG_DATA_HOME/nebrin/html/offline.html" ] && break
  sleep 0.2
done
[ -s "$XDG_DATA_HOME/nebrin/html/offline.html" ] || die "offline page not written to the data folder"
[ ! -e "$prefix/share/nebrin/html" ] || die "html/ written under the prefix"
echo "PASS: installed copy runs from $prefix"
