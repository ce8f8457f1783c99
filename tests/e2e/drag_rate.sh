# The bundled demo at 100 x 100 cells per mesh, every cell: four points placed
# with space and one of them dragged through 10 pointer positions in the real
# window. Reports how many frames the window drew per second while dragging
# (each frame is also written as a JPEG by the live animation, which the rate
# includes); the rate is reported, not asserted, since it depends on the
# machine. The drag must reach its end and leave the program running.
source "$(dirname "$0")/lib.sh"

start_live "$SRC/examples/demo.params" -General Image "$SRC/examples/demo.jpg" \
  -General AnimationFile live.anim -General AnimationOutput frames/ \
  -MeshSettings MeshResolution [ 100 100 ] -MeshLinesSettings MeshResolution [ 100 100 ]

# Cells of 300 x 300 pixels in 5 columns and 3 rows, bottom row first; the
# unit square covers pixels 30..270 of its cell. Cell 1 (the null mesh cell,
# bottom row) at u, v: x = 330 + 240 u from the left, y = 870 - 240 v from the
# top. Points at (0.25, 0.25), (0.75, 0.25), (0.75, 0.75), (0.25, 0.75).
key h
for at in "390 810" "510 810" "510 690" "390 690"; do
  # shellcheck disable=SC2086
  mouse_to $at
  key space
done
sync_input
grep -q "Aborted\|ERROR" "$OUT" "$ERR" && fail "placing the points failed"

# The drag, one pointer step at a time: each step waits for the second frame
# started after it (the first one drawn with the move), so the time per step
# is what one dragged frame costs the window, its JPEG write included.
newest() { local last; last=$(ls "$FRAMES" | tail -1); [ -n "$last" ] && frame_number "$last" || echo 0; }
wait_frame_after() {
  local want=$(($1 + 2)) deadline=$((SECONDS + WAIT))
  while [ "$(newest)" -lt "$want" ]; do
    kill -0 "$PID" 2>/dev/null || fail "the program ended during the drag"
    [ $SECONDS -lt $deadline ] || fail "no frame within $WAIT s of a drag step"
    sleep 0.005
  done
}
hold 510 690
start_time=$(date +%s.%N)
for step in $(seq 1 10); do
  before=$(newest)
  mouse_to $((510 + step)) $((690 - step))
  wait_frame_after "$before"
done
end_time=$(date +%s.%N)
xdotool mouseup 1
sync_input
kill -0 "$PID" 2>/dev/null || fail "the program ended during the drag"
key p
wait_line $'\tDeformCtrlPnts\t['
# Pixel (520, 680) is u = v = 0.7916... of cell 1.
expect_line $'\tDeformCtrlPnts\t[0.25 0.25 0.75 0.25 0.791667 0.791667 0.25 0.75 ]'
rate=$(awk -v a="$start_time" -v b="$end_time" \
  'BEGIN { printf "%.1f dragged frames/s (10 in %.2f s)", 10 / (b - a), b - a }')
echo "drag at 100 x 100, all 15 cells of the demo: $rate"
pass "the 100 x 100 demo follows a 10-step drag: $rate"
quit
