# The quasi-conformal operators in the real window: three cells with the
# operators AffineQuad (1), MeanValCoords (2) and MovingLeastSquares (4) beside
# a null cell. Four points placed with space and one dragged: each operator
# carries the picture content of the point's origin to its target. Then the
# mode keys 2, 4 and 1 switch every cell to one operator; after each switch
# every cell shows exactly what the cell that started with that operator
# showed, so each switch really fitted the new operator afresh. The delta and
# line keys print their lines, and nothing prints a warning.
source "$(dirname "$0")/lib.sh"

{
  cat <<P
General:
  WindowDims [ 800 800 ]
  ColsRows [ 2 2 ]
  Image $SRC/examples/demo.jpg
  Deformators [ Null Affine MeanVal MovingLS ]
  DeformSetting Mesh
  AnimationFile live.anim
  AnimationOutput frames/
Null:
  Type NullDeformator
Affine:
  Type DeformQuasiConf
  InterOp AffineQuad
MeanVal:
  Type DeformQuasiConf
  InterOp MeanValCoords
MovingLS:
  Type DeformQuasiConf
  InterOp MovingLeastSquares
P
  mesh_setting Mesh "0 1 0 1" false 32
} >"$WORK/run.params"

start_live run.params
grep -q "Unknown Deformation type - DeformQuasiConf" "$OUT" &&
  fail "the factory does not build DeformQuasiConf"

# Cells of 400 x 400 pixels, bottom row first: Null (0), Affine (1),
# MeanVal (2), MovingLS (3). Cell coordinate u lies at x = 400 col + 40 + 320 u
# from the left and v at y = 400 row + 40 + 320 v from the bottom; the frames
# are probed with y from the bottom. h hides the markers.
key h
capture "$WORK/before.jpg"

# Space over the MeanVal cell (top left) at the corners of a convex pentagon,
# counter-clockwise, all on centres of the picture's grid squares: (7/32, 7/32),
# (17/32, 3/32), (25/32, 7/32), (25/32, 25/32), (7/32, 25/32). With only four
# points every operator would be the same map between two parallelograms.
for at in "110 290" "210 330" "290 290" "290 110" "110 110"; do
  # shellcheck disable=SC2086
  mouse_to $at
  key space
done
sync_input
grep -q "WARNING" "$OUT" && fail "placing the points printed a warning"
pass "space places five points in every quasi-conformal cell"

# Drag the second point from (17/32, 3/32) to (13/32, 3/32) in the null cell
# (bottom left, y from the top 760 - 320 v): a move that keeps every cell's
# picture inside its cell.
drag 210 730 200 730 190 730 180 730 170 730
key p
wait_line $'\tDeformCtrlPnts\t['
expect_line $'\tDeformCtrlPnts\t[0.21875 0.21875 0.40625 0.09375 0.78125 0.21875 0.78125 0.78125 0.21875 0.78125 ]'
capture "$WORK/dragged.jpg"

# At the target (13/32, 3/32) the picture has red; every quasi-conformal cell
# shows the green of the point's origin there.
expect_colour "$WORK/before.jpg" 570 70 "$RED" 40 "affine cell before the drag"
expect_colour "$WORK/dragged.jpg" 170 70 "$RED" 40 "null cell after the drag"
expect_colour "$WORK/dragged.jpg" 570 70 "$GREEN" 40 "affine cell at the target"
expect_colour "$WORK/dragged.jpg" 170 470 "$GREEN" 40 "mean-value cell at the target"
expect_colour "$WORK/dragged.jpg" 570 470 "$GREEN" 40 "moving least squares cell at the target"
pass "the dragged point carries its picture content in every quasi-conformal cell"

# same_cell <frame a> <x a> <y a> <frame b> <x b> <y b>: compares the cells
# with lower left corners (x a, y a) and (x b, y b) on a 16 x 16 grid of
# probes; DIFFERENT counts the probes where they differ clearly.
same_cell() {
  local i j a=() b=()
  for i in $(seq 0 15); do
    for j in $(seq 0 15); do
      a+=($(($2 + 30 + 21 * i)) $(($3 + 30 + 21 * j)))
      b+=($(($5 + 30 + 21 * i)) $(($6 + 30 + 21 * j)))
    done
  done
  DIFFERENT=$(paste -d' ' <("$PIXEL" "$1" "${a[@]}" | tail -n +2) <("$PIXEL" "$4" "${b[@]}" | tail -n +2) |
    awk '{ d = 0; for (c = 3; c <= 5; ++c) { e = $c - $(c + 5); if (e < 0) e = -e; if (e > d) d = e }
           if (d > 60) n++ } END { print n + 0 }')
  [ -n "$DIFFERENT" ] || fail "cannot compare cells of $1 and $4"
}

# cells_show <frame> <mode> <x> <y>: every quasi-conformal cell of the frame
# shows what the dragged frame's cell at (x, y) showed, and the null cell is
# unchanged.
cells_show() {
  local cell
  for cell in "400 0" "0 400" "400 400" ; do
    # shellcheck disable=SC2086
    same_cell "$WORK/dragged.jpg" $3 $4 "$1" $cell
    [ "$DIFFERENT" -le 2 ] || fail "mode $2: cell at ($cell) differs from the mode's own cell at $DIFFERENT probes"
  done
  same_cell "$WORK/before.jpg" 0 0 "$1" 0 0
  [ "$DIFFERENT" -eq 0 ] || fail "mode $2: the null cell changed"
}

# The operators must really differ, or the comparisons below prove nothing.
same_cell "$WORK/dragged.jpg" 400 0 "$WORK/dragged.jpg" 0 400
[ "$DIFFERENT" -ge 10 ] || fail "the affine and mean-value cells look alike ($DIFFERENT probes differ)"
same_cell "$WORK/dragged.jpg" 0 400 "$WORK/dragged.jpg" 400 400
[ "$DIFFERENT" -ge 10 ] || fail "the mean-value and least-squares cells look alike ($DIFFERENT probes differ)"

for mode in "2 0 400" "4 400 400" "1 400 0"; do
  read -r digit x y <<<"$mode"
  before=$(count_lines "New Mode = $digit")
  key "$digit"
  wait_line "New Mode = $digit" $((before + 3))
  capture "$WORK/mode$digit.jpg"
  cells_show "$WORK/mode$digit.jpg" "$digit" "$x" "$y"
done
pass "keys 2, 4 and 1 switch every quasi-conformal cell to that operator"

# Delta and line toggles: their lines, once per quasi-conformal cell.
key plus
wait_line "delta=0.1" 3
wait_line "New Delta=[0.011, 0.011] " 3
key 7
wait_line "Line constraints: 0 1 0 0" 3
grep -q "WARNING" "$OUT" && fail "a key printed a warning"
pass "plus and 7 print the delta and line-switch lines"

key Escape
wait_exit
[ "$STATUS" -eq 0 ] || fail "Escape ended with status $STATUS"
