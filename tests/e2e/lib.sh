# Shared helpers of the end-to-end tests: a private X server, a temporary
# program folder with the packed default theme, and waiting for windows.
# Environment: NEBRIN_BIN (the program), NEBRIN_PACKAGE (packed default theme),
# E2E_OUT (folder for screenshots).
set -u

die() { echo "FAIL: $*" >&2; exit 1; }

[ -x "${NEBRIN_BIN:-}" ] || die "program not found: ${NEBRIN_BIN:-unset}"
if [ ! -f "${NEBRIN_PACKAGE:-}" ]; then
  echo "SKIP: the packed default theme is missing (${NEBRIN_PACKAGE:-unset})"
  exit 77
fi
mkdir -p "${E2E_OUT:=/tmp}"
# No session bus: without this the toolkit would start one that outlives the
# test.
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
# The tests run as root, where the program shows no web pages unless told it
# is a test (then the engine runs without its sandbox). e2e_web_as_root
# unsets it to see the refusal.
[ "$(id -u)" = 0 ] && export NEBRIN_TEST_WEB_AS_ROOT=1

WORK=$(mktemp -d /tmp/nebrin-e2e-XXXXXX)
XVFB_PID=
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${PIDS[@]}"; do wait "$p" 2>/dev/null; done
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

# Starts Xvfb on a display number it picks itself (free whatever DISPLAY is),
# white root window so that cut-away parts of a shaped window show white.
# Arguments go to Xvfb. The server never resets, as a desktop session's
# does not: a bare Xvfb resets when its last client leaves and refuses the
# connections that come meanwhile, so a program started right after the
# others ended would fail to find the display.
start_x() {
  local fifo="$WORK/displayfd"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -wr -nolisten tcp -noreset "$@" 3>"$fifo" >"$WORK/xvfb.log" 2>&1 &
  XVFB_PID=$!
  local n
  read -r -t 20 n <"$fifo" || die "Xvfb did not start: $(cat "$WORK/xvfb.log")"
  export DISPLAY=":$n"
  # The program's own runtime folder for the single-instance socket.
  export XDG_RUNTIME_DIR="$WORK/run"
  mkdir -m 0700 -p "$XDG_RUNTIME_DIR"
}

# A program folder with skin/default.nbt and html/.
make_home() {
  local home="$WORK/${1:-home}"
  mkdir -p "$home/skin" "$home/html"
  cp "$NEBRIN_PACKAGE" "$home/skin/default.nbt"
  echo "$home"
}

# Starts the program for folder $1 in the background; its pid in LAST_PID.
start_nebrin() {
  NEBRIN_HOME="$1" NEBRIN_TRACE_FIRST_PAINT=1 "$NEBRIN_BIN" >>"$WORK/nebrin.log" 2>&1 &
  LAST_PID=$!
  PIDS+=("$LAST_PID")
}

# Skips the test (status 77) unless every program named is installed.
need() {
  local p
  for p in "$@"; do
    command -v "$p" >/dev/null 2>&1 || { echo "SKIP: $p is not installed (tools/install-deps.sh installs it)"; exit 77; }
  done
}

# Starts a helper program in the background, ended with the test.
start_bg() {
  "$@" >>"$WORK/helpers.log" 2>&1 &
  PIDS+=("$!")
}

# A window's geometry as "x y w h" (absolute, without a frame).
geometry() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}'
}

# Waits up to $3 seconds for window $1's geometry to read $2.
wait_geometry() {
  local i
  for ((i = 0; i < $3 * 5; i++)); do
    [ "$(geometry "$1")" = "$2" ] && return 0
    sleep 0.2
  done
  return 1
}

# The window the window manager calls active (decimal id, as xdotool's).
active() { printf '%d' "$(xprop -root _NET_ACTIVE_WINDOW | awk '{print $NF}')" 2>/dev/null; }
# Waits up to $2 seconds for window $1 to be the active one.
wait_active() {
  local i
  for ((i = 0; i < $2 * 5; i++)); do
    [ "$(active)" = "$1" ] && return 0
    sleep 0.2
  done
  return 1
}
# Presses Tab (at most 8 times) until the focused control, as the
# accessibility probe reads it, is named $1.
tab_to() {
  local i
  for ((i = 0; i < 8; i++)); do
    [ "$(probe focused)" = "$1" ] && return 0
    xdotool key Tab
    sleep 0.3
  done
  [ "$(probe focused)" = "$1" ]
}
# Types user $1, password $2 (twice) and service $3 into the settings
# dialog, starting in its user name field, then presses Enter.
fill_settings() {
  xdotool key ctrl+a && xdotool type --delay 20 "$1"
  xdotool key Tab ctrl+a && xdotool type --delay 20 "$2"
  xdotool key Tab ctrl+a && xdotool type --delay 20 "$2"
  xdotool key Tab ctrl+a && xdotool type --delay 20 "$3"
  xdotool key Return
}
# Visible windows named $1 (exact).
windows_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null; }

# Waits up to $2 seconds for a visible window named $1; prints its id.
wait_window() {
  local i
  for ((i = 0; i < $2 * 5; i++)); do
    local w
    w=$(windows_named "$1" | head -1)
    if [ -n "$w" ]; then echo "$w"; return 0; fi
    sleep 0.2
  done
  return 1
}

# Waits up to $1 seconds for the program to have its offline page up: the
# web engine has started, and clicks made while it starts are not lost.
wait_ready() {
  local i
  for ((i = 0; i < $1 * 5; i++)); do
    grep -q '^offline-page ' "$WORK/nebrin.log" && return 0
    sleep 0.2
  done
  return 1
}

# Waits up to $2 seconds for process $1 to end; its exit status in EXIT_CODE.
wait_exit() {
  local i
  for ((i = 0; i < $2 * 5; i++)); do
    if ! kill -0 "$1" 2>/dev/null; then
      wait "$1"
      EXIT_CODE=$?
      return 0
    fi
    sleep 0.2
  done
  return 1
}

# The colour of screen pixel x,y of a screenshot as "r,g,b" (0..255).
pixel() { convert "$1" -format "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:; }

# The simulated line for program folder $1: the tools beside the program
# (skips the test when one of them, or one of the extra files $2…, is not
# built) and `rasdial` over that folder. Sets BINDIR.
use_sim_line() {
  export NEBRIN_RAS=sim
  BINDIR=$(dirname "$NEBRIN_BIN")
  SIM_HOME=$1
  shift
  local f
  for f in librasapi-sim.so nebrin-rasdial nebrin-theme "$@"; do
    [ -e "$BINDIR/$f" ] || { echo "SKIP: $f is not built"; exit 77; }
  done
}
rasdial() { NEBRIN_HOME="$SIM_HOME" "$BINDIR/nebrin-rasdial" "$@"; }

# Packs the default theme's source into $SIM_HOME/skin/default.nbt with its
# settings edited by the sed expressions given.
pack_theme() {
  cp -r "$(dirname "${BASH_SOURCE[0]}")/../../theme/default" "$WORK/theme"
  rm -rf "$WORK/theme/generator" "$WORK/theme/CMakeLists.txt" "$WORK/theme/README.md"
  local args=() e
  for e in "$@"; do args+=(-e "$e"); done
  sed -i "${args[@]}" "$WORK/theme/00-settings.ini"
  "$BINDIR/nebrin-theme" pack "$WORK/theme" "$SIM_HOME/skin/default.nbt" >/dev/null || die "cannot pack the theme"
}

# Prints the absolute "x y" of window $1.
window_xy() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4} END {print x, y}'
}

# nebrin-web started by the program of pid $pid (the test's), if any.
web() { pgrep -P "$pid" -x nebrin-web; }
# Waits up to $2 seconds for nebrin-web to run (yes) or not (no).
wait_web() {
  local i
  for ((i = 0; i < $2 * 5; i++)); do
    if [ -n "$(web)" ]; then [ "$1" = yes ] && return 0; else [ "$1" = no ] && return 0; fi
    sleep 0.2
  done
  return 1
}

# The dialer on the simulated line of $SIM_HOME, its theme showing the local
# file $1 as the online page and $2 as a popup as soon as the line comes up,
# the entry made (not dialled). Sets pid, win and its position x y once
# nebrin-web runs.
start_popup_dialer() {
  pack_theme "s|^OnlineURL=.*|OnlineURL=file://$1|" "s|^EnablePopup=.*|EnablePopup=yes|" \
    "s|^PopupTimer=.*|PopupTimer=0|" "s|^PopupURL=.*|PopupURL=file://$2|"
  printf '[Line]\nOutcome=connected\nStepDelay=50\n' >"$SIM_HOME/simline.ini"
  rasdial Nebrin /create usluga jan tajne1 >/dev/null || die "cannot create the entry"
  start_nebrin "$SIM_HOME"
  pid=$LAST_PID
  win=$(wait_window Nebrin 30) || die "no main window; log: $(cat "$WORK/nebrin.log")"
  read -r x y <<<"$(window_xy "$win")"
  wait_web yes 20 || die "no nebrin-web; log: $(cat "$WORK/nebrin.log")"
}

# A session bus of the test's own, the toolkit's accessibility bridge on, and
# `probe` (tests/e2e/a11y_probe.py under Debian's own Python, which has
# python3-pyatspi). Skips the test when the accessibility packages are
# missing. After start_x.
start_a11y() {
  need dbus-daemon
  PY=/usr/bin/python3
  "$PY" -c 'import pyatspi' 2>/dev/null ||
    { echo "SKIP: python3-pyatspi is not installed (tools/install-deps.sh installs it)"; exit 77; }
  [ -x /usr/libexec/at-spi-bus-launcher ] ||
    { echo "SKIP: at-spi2-core is not installed (tools/install-deps.sh installs it)"; exit 77; }
  # The accessibility bus is started on the session bus when first asked for.
  dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$WORK/bus.address" 4>"$WORK/bus.pid" ||
    die "no session bus"
  DBUS_SESSION_BUS_ADDRESS=$(cat "$WORK/bus.address")
  export DBUS_SESSION_BUS_ADDRESS
  PIDS+=("$(cat "$WORK/bus.pid")")
  export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
}
probe() { timeout 60 "$PY" "$(dirname "${BASH_SOURCE[0]}")/a11y_probe.py" "$@"; }

# The dialer on a simulated line that connects, its entry made (not
# dialled), up to its main window; its theme's settings edited first by the
# sed expressions of SIM_THEME_EDITS when set (pack_theme). Sets home, pid
# and win. After start_x.
start_sim_dialer() {
  home=$(make_home)
  use_sim_line "$home"
  [ -n "${SIM_THEME_EDITS+set}" ] && pack_theme "${SIM_THEME_EDITS[@]}"
  printf '[Line]\nOutcome=connected\nStepDelay=50\n' >"$home/simline.ini"
  rasdial Nebrin /create usluga jan tajne1 >/dev/null || die "cannot create the entry"
  start_nebrin "$home"
  pid=$LAST_PID
  win=$(wait_window Nebrin 30) || die "no main window; log: $(cat "$WORK/nebrin.log")"
}

# start_sim_dialer under window manager command "$@" with the accessibility
# bus (start_a11y), up to its offline page.
start_a11y_dialer() {
  export HOME="$WORK"
  start_a11y
  start_wm "$@"
  start_sim_dialer
  wait_ready 60 || die "no offline page; log: $(cat "$WORK/nebrin.log")"
}

# Starts window manager command "$@" and waits up to 20 s for it to take the
# screen over (it names itself on the root window).
start_wm() {
  start_bg "$@"
  local i
  for ((i = 0; i < 100; i++)); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    sleep 0.2
  done
  die "$1 did not start: $(tail -5 "$WORK/helpers.log")"
}
