# The classic methods in the real window: affine moving least squares, the
# thin-plate-spline warp and Green coordinates beside the null cell. Four
# points placed with space (snapped to mesh vertices by the moving-least-squares
# cell under the pointer) form a convex cage; one of them is dragged. Every
# deforming cell then shows, at the dragged target, the picture content that
# lay under its original position (Green coordinates do not put a point
# exactly on its target, but within a few pixels of it), and the null cell is
# unchanged.
source "$(dirname "$0")/lib.sh"

{
  cat <<P
General:
  WindowDims [ 800 800 ]
  ColsRows [ 2 2 ]
  Image $SRC/examples/demo.jpg
  Deformators [ Null Spline Affine Green ]
  DeformSetting Mesh
  AnimationFile live.anim
  AnimationOutput frames/
Null:
  Type NullDeformator
Spline:
  Type DeformThinPlateSplineWarp
Affine:
  Type DeformMLS
  MLSType MLS_AFFINE
Green:
  Type DeformGreenCoords
P
  mesh_setting Mesh "0 1 0 1" false 32
} >"$WORK/run.params"

start_live run.params
if grep -q "Unknown Deformation type" "$OUT"; then
  fail "the factory does not build the classic methods"
fi

# Cells of 400 x 400 pixels, bottom row first: Null (0), Spline (1),
# Affine (2), Green (3); each unit square covers pixels 40..360 of its
# cell, so cell coordinate u lies at x = 400 col + 40 + 320 u from the left and
# v at y = 400 row + 40 + 320 v from the bottom. Mesh vertices lie at multiples
# of 1/32; the odd multiples 7/32, 17/32 and 25/32 are the centres of the
# picture's grid squares (112, 272 and 400 of its 512 pixels), away from lines.
# h hides the markers, so the frames show the picture only.
key h
capture "$WORK/before.jpg"

# Space over the Affine cell (top left) at (7/32, 7/32), (25/32, 7/32),
# (25/32, 25/32), (7/32, 25/32); pointer y from the top is 360 - 320 v there.
for at in "110 290" "290 290" "290 110" "110 110"; do
  # shellcheck disable=SC2086
  mouse_to $at
  key space
done
wait_line "actual=[" 4
expect_line "actual=[0.21875, 0.21875]"
expect_line "actual=[0.78125, 0.78125]"
# The spline says once that one and two points are too few for it.
[ "$(grep -c "WARNING" "$OUT")" -eq 1 ] &&
  grep -qF "[WARNING] Spline: the thin-plate spline needs at least three control points; the last good deformation is kept" "$OUT" ||
  fail "placing the points printed other warnings than the spline's one"
pass "space snaps to mesh vertices and places the points in every cell"

# Drag point 3 from (7/32, 25/32) to (17/32, 25/32) in the Null cell (bottom
# left, y from the top 760 - 320 v): the polygon stays convex. The frame
# after the drag shows its last position.
drag 110 510 135 510 160 510 185 510 210 510
key p
wait_line $'\tDeformCtrlPnts\t['
expect_line $'\tDeformCtrlPnts\t[0.21875 0.21875 0.78125 0.21875 0.78125 0.78125 0.53125 0.78125 ]'
capture "$WORK/after.jpg"

# At the target (17/32, 25/32): the yellow quadrant of the picture before the
# drag in every cell and after it in the null cell; after it, the deforming
# cells show the blue of the point's original position (7/32, 25/32) there.
for cell in "0 0" "400 0" "0 400" "400 400"; do
  read -r dx dy <<<"$cell"
  expect_colour "$WORK/before.jpg" $((210 + dx)) $((290 + dy)) "$YELLOW" 40 "before the drag"
done
expect_colour "$WORK/after.jpg" 210 290 "$YELLOW" 40 "null cell after the drag"
expect_colour "$WORK/after.jpg" 610 290 "$BLUE" 40 "spline cell at the target"
expect_colour "$WORK/after.jpg" 210 690 "$BLUE" 40 "affine cell at the target"
expect_colour "$WORK/after.jpg" 610 690 "$BLUE" 40 "Green cell at the target"
pass "the dragged point carries its picture content in the deforming cells"

# The null cell is the same picture as before, probed over its whole square.
for u in 40 110 170 230 290 350; do
  for v in 40 110 170 230 290 350; do
    read_pixel "$WORK/before.jpg" $u $v
    old=$PIX
    read_pixel "$WORK/after.jpg" $u $v
    [ "$(colour_distance "$old" "$PIX")" -le 24 ] ||
      fail "null cell changed at ($u, $v): ($old) before, ($PIX) after"
  done
done
pass "the null cell is unchanged"

key Escape
wait_exit
[ "$STATUS" -eq 0 ] || fail "Escape ended with status $STATUS"
