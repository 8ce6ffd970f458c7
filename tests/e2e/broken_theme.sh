#!/usr/bin/env bash
# A theme that does not load ends the program by itself, with status 0 and no
# window left: a package with a bad magic, a cut-off package, a missing
# package, a missing html/ folder and a statistics window without its size
# (that window is made after the main one is shown).
. "$(dirname "$0")/lib.sh"
start_x

check_ends() {
  local what=$1 home=$2
  start_nebrin "$home"
  local pid=$LAST_PID
  wait_exit "$pid" 30 || die "$what: the program is still running"
  [ "$EXIT_CODE" = 0 ] || die "$what: ended with $EXIT_CODE"
  local left
  left=$(xdotool search --onlyvisible --name . 2>/dev/null | wc -l)
  [ "$left" = 0 ] || die "$what: $left windows left"
  echo "ok: $what"
}

home=$(make_home magic)
printf 'nbt' | dd of="$home/skin/default.nbt" bs=1 count=3 conv=notrunc status=none
check_ends "bad magic" "$home"

home=$(make_home cut)
size=$(stat -c %s "$home/skin/default.nbt")
truncate -s $((size / 2)) "$home/skin/default.nbt"
check_ends "cut-off package" "$home"

home=$(make_home nopkg)
rm "$home/skin/default.nbt"
check_ends "missing package" "$home"

home=$(make_home nohtml)
rmdir "$home/html"
check_ends "missing html folder" "$home"
[ ! -e "$home/html" ] || die "html/ was created in the program folder"
tool="$(dirname "$NEBRIN_BIN")/nebrin-theme"
if [ -x "$tool" ]; then
  home=$(make_home nostats)
  cp -r "$(dirname "$0")/../../theme/default" "$WORK/theme"
  rm -rf "$WORK/theme/generator" "$WORK/theme/CMakeLists.txt" "$WORK/theme/README.md"
  sed -i '/^StatsWindowWidth=/d' "$WORK/theme/00-settings.ini"
  "$tool" pack "$WORK/theme" "$home/skin/default.nbt" >/dev/null || die "cannot pack the theme"
  check_ends "statistics window without its width" "$home"
fi
echo "PASS: broken themes end the program silently"
