# Shared harness of the end-to-end tests, sourced by each test script.
# A test runs as: scripts/with-xvfb bash <test>.sh <warpix> <warpix_pixel> <source dir>
# It starts the real program in a scratch directory, drives it with real X
# events from xdotool, and checks its standard output, exit status and frames.
# Every wait is on the event itself (a window, an output line, a frame file, the
# program's end) with a timeout, never a fixed sleep; on failure the program's
# process group is killed. A wait returns as soon as its event happens, so the
# timeouts are generous: a machine busy with other work (a build, other tests)
# can take many seconds for a redraw in software OpenGL. WARPIX_E2E_WAIT sets
# them (default: 60 s). X events reach the program in the order they are
# sent, so nothing needs pacing between them.

set -u

WAIT=${WARPIX_E2E_WAIT:-60}

WARPIX=$1
PIXEL=$2
SRC=$3
WORK=$(mktemp -d "${TMPDIR:-/tmp}/warpix_e2e.XXXXXX")
OUT=$WORK/out.txt
ERR=$WORK/err.txt
FRAMES=$WORK/frames
PID=""
WID=""
WIN_X=0
WIN_Y=0
STATUS=""
mkdir -p "$FRAMES"
: >"$OUT"
: >"$ERR"

stop_warpix() {
  if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; then
    kill -KILL -- "-$PID" 2>/dev/null || kill -KILL "$PID" 2>/dev/null
    wait "$PID" 2>/dev/null
  fi
  PID=""
}

cleanup() {
  stop_warpix
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  echo "--- standard output"
  cat "$OUT"
  echo "--- standard error"
  cat "$ERR"
  # A program that is still running is shown where it stands, so a hang can
  # be told from lost input.
  if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null && command -v gdb >/dev/null; then
    echo "--- the running program's threads"
    timeout 30 gdb -q -batch -p "$(pgrep -P "$PID" -x "$(basename "$WARPIX")" || echo "$PID")" \
      -ex 'thread apply all bt 8' 2>/dev/null | grep -E '^(Thread|#)' | cut -c1-160
  fi
  exit 1
}

pass() { echo "ok: $*"; }

# Writes a parameter file: write_params <file> <<EOF ... EOF
write_params() { cat >"$1"; }

# general <width> <height> <cols> <rows> "<deformators>" [<key> <value>]...:
# prints the General module of a parameter file: window size, grid, the
# bundled picture, the deformators, then the further keys in order.
general() {
  printf 'General:\n  WindowDims [ %s %s ]\n  ColsRows [ %s %s ]\n  Image %s\n  Deformators [ %s ]\n' \
    "$1" "$2" "$3" "$4" "$SRC/examples/demo.jpg" "$5"
  shift 5
  while [ $# -ge 2 ]; do
    printf '  %s %s\n' "$1" "$2"
    shift 2
  done
}

# null_modules <name>...: prints a NullDeformator module for each name.
null_modules() {
  local name
  for name in "$@"; do printf '%s:\n  Type NullDeformator\n' "$name"; done
}

# mesh_setting <name> [<DefaultRect values>] [<WhiteToTransparent>] [<cells>]:
# prints a regular mesh setting of cells x cells, mesh lines off (default:
# 0 1 0 1, false, 10).
mesh_setting() {
  printf '%s:\n  DeformType DEFORM_REGULAR_MESH\n  MeshResolution [ %s %s ]\n' "$1" "${4:-10}" "${4:-10}"
  printf '  DefaultRect [ %s ]\n  DrawMesh false\n  WhiteToTransparent %s\n' \
    "${2:-0 1 0 1}" "${3:-false}"
}

# start_warpix <args...>: runs the program in $WORK in its own process group.
start_warpix() {
  : >"$OUT"
  : >"$ERR"
  WID=""
  STATUS=""
  (cd "$WORK" && exec setsid "$WARPIX" "$@" >"$OUT" 2>"$ERR") &
  PID=$!
}

# wait_window: waits for the program's window, focuses it and puts the
# pointer over it (key presses go to the window under the pointer).
wait_window() {
  local deadline=$((SECONDS + WAIT))
  while [ -z "$WID" ]; do
    kill -0 "$PID" 2>/dev/null || fail "program ended before its window appeared"
    [ $SECONDS -lt $deadline ] || fail "window did not appear within $WAIT s"
    WID=$(xdotool search --onlyvisible --name '^Warpix \(GLUT\)$' 2>/dev/null | head -1)
    [ -n "$WID" ] || sleep 0.05
  done
  xdotool windowfocus --sync "$WID" || fail "cannot focus the window"
  eval "$(xdotool getwindowgeometry --shell "$WID" | grep -E '^[XY]=' | sed 's/^/WIN_/')"
  mouse_to 5 5
}

# count_lines <fixed text>: number of output lines containing the text.
count_lines() { grep -cF -- "$1" "$OUT"; }

# wait_line <fixed text> [count] [seconds]: waits until at least count output
# lines contain the text.
wait_line() {
  local text=$1 count=${2:-1} limit=${3:-$WAIT}
  local deadline=$((SECONDS + limit))
  while [ "$(count_lines "$text")" -lt "$count" ]; do
    if ! kill -0 "$PID" 2>/dev/null; then
      [ "$(count_lines "$text")" -ge "$count" ] && return 0
      fail "program ended while waiting for '$text'"
    fi
    [ $SECONDS -lt $deadline ] || fail "no line '$text' (x$count) within $limit s"
    sleep 0.02
  done
}

# expect_line <exact line>: some output line equals the text.
expect_line() {
  grep -qxF -- "$1" "$OUT" || fail "missing output line: $(printf '%q' "$1")"
}

# wait_exit [seconds]: waits for the program to end; its status in $STATUS.
wait_exit() {
  local limit=${1:-$WAIT}
  local deadline=$((SECONDS + limit))
  while kill -0 "$PID" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || fail "program did not end within $limit s"
    sleep 0.05
  done
  wait "$PID"
  STATUS=$?
  PID=""
}

# run_to_end <args...>: runs the program to its end (no window expected).
run_to_end() {
  start_warpix "$@"
  wait_exit
}

# play <args...>: starts the program, waits for its window and for the end of
# its scripted animation.
play() {
  start_warpix "$@"
  wait_window
  wait_line "Animation Terminated!"
}

# start_live <args...>: writes live.anim (see live_script), starts the program
# (its parameters or arguments name live.anim with AnimationOutput frames/),
# and waits for its window and the start of the animation.
start_live() {
  live_script "$WORK/live.anim"
  start_warpix "$@"
  wait_window
  wait_line "Initializing anim: 0 0"
}

# quit: Escape ends the program with status 0.
quit() {
  key Escape
  wait_exit
  [ "$STATUS" -eq 0 ] || fail "Escape ended with status $STATUS"
}

# key <keysym...>: presses keys in the focused window.
key() { xdotool key --delay 20 "$@"; }

# sync_input: presses an unechoed-action key ('z') and waits for its echo, so
# every X event sent before it has been handled by the program.
sync_input() {
  local before
  before=$(count_lines "Key pressed = z")
  key z
  wait_line "Key pressed = z" $((before + 1))
}

# mouse_to <x> <y>: pointer to window pixel (x, y), origin top left; returns
# once the server reports the pointer there (the server keeps the pointer where
# the previous program left it, so waiting for a change could wait forever).
mouse_to() {
  local want="$((WIN_X + $1)) $((WIN_Y + $2))" at="" deadline=$((SECONDS + WAIT))
  xdotool mousemove --window "$WID" "$1" "$2" || fail "cannot move the pointer to $1 $2"
  while :; do
    at=$(xdotool getmouselocation 2>/dev/null | sed -n 's/^x:\([0-9-]*\) y:\([0-9-]*\) .*/\1 \2/p')
    [ "$at" = "$want" ] && return 0
    [ $SECONDS -lt $deadline ] || fail "pointer at ($at), not at window pixel ($1, $2) within $WAIT s"
    sleep 0.01
  done
}

# hold <x0> <y0> [<x> <y>]...: button 1 down at the first point, then moved
# through the others; the button stays down.
hold() {
  mouse_to "$1" "$2"
  xdotool mousedown 1
  shift 2
  while [ $# -ge 2 ]; do
    mouse_to "$1" "$2"
    shift 2
  done
}

# drag <x0> <y0> <x1> <y1> ... : button 1 down at the first point, through the
# others, up at the last.
drag() {
  hold "$@"
  xdotool mouseup 1
}

# frame_number <file>: the number in an Anim??????.jpg name.
frame_number() {
  local name=${1##*Anim}
  name=${name%.jpg}
  echo $((10#$name))
}

# capture <snapshot file>: a frame drawn after all input sent so far, taken
# from a running "live" animation (see live_script) that writes one numbered
# frame per redraw into $FRAMES. With F the newest frame once the input has
# been handled, frame F+1 is the first one drawn after it; it is complete once
# frame F+2 exists. Older frames are removed as they are no longer needed.
capture() {
  local snapshot=$1 last="" first next deadline=$((SECONDS + WAIT))
  sync_input
  while [ -z "$last" ]; do
    kill -0 "$PID" 2>/dev/null || fail "program ended while capturing"
    [ $SECONDS -lt $deadline ] || fail "no frame within $WAIT s"
    last=$(ls "$FRAMES" | tail -1)
    [ -n "$last" ] || sleep 0.02
  done
  first=$(($(frame_number "$last") + 1))
  next=$(printf '%s/Anim%06d.jpg' "$FRAMES" $((first + 1)))
  while [ ! -e "$next" ]; do
    kill -0 "$PID" 2>/dev/null || fail "program ended while capturing"
    [ $SECONDS -lt $deadline ] || fail "no new frame within $WAIT s"
    sleep 0.02
  done
  cp "$(printf '%s/Anim%06d.jpg' "$FRAMES" "$first")" "$snapshot"
  find "$FRAMES" -name 'Anim*.jpg' -delete
}

# live_script <file>: an animation with no control points and many empty frame
# lines, so every redraw writes the next numbered frame while input goes on.
live_script() {
  { echo; echo; yes '' | head -n 200000; } >"$1"
}

# read_pixel <image> <x> <y>: sets PIX to "r g b" of the pixel (x from the
# left, y from the bottom); fails the test when the file cannot be read.
read_pixel() {
  local line
  line=$("$PIXEL" "$1" "$2" "$3") || fail "cannot read pixel ($2, $3) of $1"
  line=${line##*$'\n'}
  PIX=${line#* * }
}

# colour_distance <"r g b"> <"r g b">: largest component difference.
colour_distance() {
  local a b
  read -r -a a <<<"$1"
  read -r -a b <<<"$2"
  local d max=0 i
  for i in 0 1 2; do
    d=$((a[i] - b[i]))
    d=${d#-}
    [ "$d" -gt "$max" ] && max=$d
  done
  echo "$max"
}

# expect_colour <image> <x> <y> <"r g b"> <tolerance> <what>
expect_colour() {
  read_pixel "$1" "$2" "$3"
  local d
  d=$(colour_distance "$PIX" "$4")
  if [ "$d" -gt "$5" ]; then
    fail "$6: pixel ($2, $3) of $(basename "$1") is ($PIX), expected ($4) +-$5"
  fi
}

# expect_size <image> <width> <height>
expect_size() {
  local line
  line=$("$PIXEL" "$1") || fail "cannot read $1"
  [ "$line" = "size $2 $3" ] || fail "$(basename "$1") has $line, expected $2 x $3"
}

# The bundled picture's quadrant colours (bottom left red, bottom right green,
# top left blue, top right yellow) at the quadrant sample points (112, 112),
# (400, 112), (112, 400), (400, 400) of the 512 x 512 picture.
RED="219 61 62"
GREEN="62 177 76"
BLUE="62 91 219"
YELLOW="238 198 40"
GREY="178 178 178"
WHITE="255 255 255"
