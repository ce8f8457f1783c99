# The line-constraint operators in the real window: keys 5 and 6 and the side
# toggles 7, 8, 9, 0 print their lines; with four points placed and one corner
# dragged, each line cell draws its constrained sides as straight blue
# segments between the new corners, and the null cell draws none.
source "$(dirname "$0")/lib.sh"

{
  cat <<P
General:
  WindowDims [ 1200 400 ]
  ColsRows [ 3 1 ]
  Image $SRC/examples/demo.jpg
  Deformators [ Null Lines LinesNoQC ]
  DeformSetting Mesh
  AnimationFile live.anim
  AnimationOutput frames/
Null:
  Type NullDeformator
Lines:
  Type DeformQuasiConf
  InterOp FixedLinesTPS
LinesNoQC:
  Type DeformQuasiConf
  InterOp FixedLinesTPSNoQuasiConf
P
  mesh_setting Mesh "0 1 0 1" false 32
} >"$WORK/run.params"

start_live run.params

# Cells of 400 x 400, left to right: Null (0), Lines (1), LinesNoQC (2); u
# lies at x = 400 k + 40 + 320 u, v at y = 360 - 320 v from the top (40 + 320 v
# from the bottom in the frames).
# The toggles: sides 0 and 2 are on at start; 8 switches side 1 on, 8 again off.
key 8
wait_line "Line constraints: 0 1 1 1" 2
key 8
wait_line "Line constraints: 0 1 0 1" 2
for mode in 6 5; do
  key "$mode"
  wait_line "New Mode = $mode" 2
done
pass "keys 5, 6 and the side toggles print their lines in both line cells"

# Four corners over the Lines cell: (7/32, 7/32), (25/32, 7/32), (25/32, 25/32),
# (7/32, 25/32), counter-clockwise.
for at in "510 290" "690 290" "690 110" "510 110"; do
  # shellcheck disable=SC2086
  mouse_to $at
  key space
done
wait_line "Created Line pair: 43" 2
# Drag corner 1 from (25/32, 7/32) to (27/32, 11/32) in the Lines cell.
drag 690 290 695 280 700 270 705 260 710 250
key p
wait_line $'\tDeformCtrlPnts\t['
expect_line $'\tDeformCtrlPnts\t[0.21875 0.21875 0.84375 0.34375 0.78125 0.78125 0.21875 0.78125 ]'
capture "$WORK/dragged.jpg"
if grep "WARNING\|ERROR" "$OUT" | grep -vq "Number of double-crossed faces"; then
  fail "placing or dragging printed a warning"
fi

# blue_at <frame> <x> <y>: the pixel is the drawn line's blue (blue clearly
# above red and green, whatever the picture beneath).
blue_at() {
  read_pixel "$1" "$2" "$3"
  local rgb
  read -r -a rgb <<<"$PIX"
  [ "${rgb[2]}" -gt $((rgb[0] + 40)) ] && [ "${rgb[2]}" -gt $((rgb[1] + 40)) ]
}

# Side 0 from (7/32, 7/32) to (27/32, 11/32) and side 2 from (25/32, 25/32) to
# (7/32, 25/32), sampled at interior points in both line cells, over the red,
# green and yellow quadrants of the picture (the blue one would pass anyway).
for cell in 400 800; do
  for t in 2 4 6 8; do
    x=$((cell + 40 + (70 + 200 * t / 10))); y=$((40 + 70 + 40 * t / 10))
    blue_at "$WORK/dragged.jpg" $x $y || fail "cell at $cell: side 0 not drawn straight at ($x, $y): $PIX"
    blue_at "$WORK/dragged.jpg" $x $((y + 8)) && fail "cell at $cell: blue 8 px above side 0 at ($x, $y)"
    blue_at "$WORK/dragged.jpg" $x $((y - 8)) && fail "cell at $cell: blue 8 px below side 0 at ($x, $y)"
    if [ "$t" -le 4 ]; then
      x=$((cell + 40 + (250 - 180 * t / 10))); y=$((40 + 250))
      blue_at "$WORK/dragged.jpg" $x $y || fail "cell at $cell: side 2 not drawn straight at ($x, $y): $PIX"
    fi
    x=$((40 + (70 + 200 * t / 10))); y=$((40 + 70 + 40 * t / 10))
    blue_at "$WORK/dragged.jpg" $x $y && fail "the null cell draws a line at ($x, $y)"
  done
done
pass "both line cells draw their constrained sides as straight segments between the new corners"

key Escape
wait_exit
[ "$STATUS" -eq 0 ] || fail "Escape ended with status $STATUS"
