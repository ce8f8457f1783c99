# The steps of methods.sh and classic.sh, sourced after they wrote
# $WORK/run.params: four cells of 400 x 400 pixels (the null cell first), four
# points placed with space over cell 2, whose method snaps them to mesh
# vertices, and one of them dragged. Set by the caller: CELLS (the cells'
# names, for the messages), SNAPPED (how many "actual=[" lines placing the
# points prints) and WARNINGS (the warning lines it prints, or nothing).
start_live run.params
if grep -q "Unknown Deformation type" "$OUT"; then
  fail "the factory does not build every cell's method"
fi

# Cells of 400 x 400 pixels, bottom row first: Null (0), CELLS[1], CELLS[2]
# (with the snapping method), CELLS[3]; each unit square covers pixels 40..360 of its
# cell, so cell coordinate u lies at x = 400 col + 40 + 320 u from the left and
# v at y = 400 row + 40 + 320 v from the bottom. Mesh vertices lie at multiples
# of 1/32; the odd multiples 7/32, 17/32 and 25/32 are the centres of the
# picture's grid squares (112, 272 and 400 of its 512 pixels), away from lines.
# h hides the markers, so the frames show the picture only.
key h
capture "$WORK/before.jpg"

# Space over cell 2 (top left) at (7/32, 7/32), (25/32, 7/32),
# (25/32, 25/32), (7/32, 25/32); pointer y from the top is 360 - 320 v there.
for at in "110 290" "290 290" "290 110" "110 110"; do
  # shellcheck disable=SC2086
  mouse_to $at
  key space
done
wait_line "actual=[" "$SNAPPED"
expect_line "actual=[0.21875, 0.21875]"
expect_line "actual=[0.78125, 0.78125]"
[ "$(grep "WARNING" "$OUT")" = "$WARNINGS" ] ||
  fail "placing the points printed other warnings than: ${WARNINGS:-none}"
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
expect_colour "$WORK/after.jpg" 610 290 "$BLUE" 40 "${CELLS[1]} cell at the target"
expect_colour "$WORK/after.jpg" 210 690 "$BLUE" 40 "${CELLS[2]} cell at the target"
expect_colour "$WORK/after.jpg" 610 690 "$BLUE" 40 "${CELLS[3]} cell at the target"
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
