# Control-drag zooms and shift-drag pans every cell (the frame's pixels move),
# "x" resets both, and while zoomed a space press places the point exactly
# under the pointer.
source "$(dirname "$0")/lib.sh"

{
  general 600 300 2 1 "Pixel Mesh" AnimationFile live.anim AnimationOutput frames/
  null_modules Pixel Mesh
  echo "  DeformSetting MeshSettings"
  mesh_setting MeshSettings
} >"$WORK/run.params"
start_live run.params

# Cells are 300 x 300 pixels; each unit square covers pixels 30..270 of its
# cell. Probes (x from the left, y from the bottom): P1 (285, 150) lies in the
# margin right of cell 0's square; P2 (40, 100) just inside its left edge, on
# the red quadrant; the same probes 300 pixels further right in cell 1.
capture "$WORK/start.jpg"
for dx in 0 300; do
  expect_colour "$WORK/start.jpg" $((285 + dx)) 150 "$WHITE" 12 "margin before zooming"
  expect_colour "$WORK/start.jpg" $((40 + dx)) 100 "$RED" 40 "left edge before panning"
done

# Control-drag 60 pixels up: zoom 1 + 60 / 300 = 1.2, the square grows from
# its lower-left corner to 288 pixels, over P1 (green quadrant there).
xdotool keydown ctrl
drag 150 200 150 180 150 160 150 140
xdotool keyup ctrl
capture "$WORK/zoomed.jpg"
for dx in 0 300; do
  expect_colour "$WORK/zoomed.jpg" $((285 + dx)) 150 "$GREEN" 40 "zoomed square over the margin"
done
pass "control-drag zooms every cell"

key x
capture "$WORK/reset.jpg"
expect_colour "$WORK/reset.jpg" 285 150 "$WHITE" 12 "margin after x"
pass "x resets the zoom"

# Shift-drag 30 pixels right: pan 30 / 600 of the window, the squares start
# at pixel 60 of their cells, P2 becomes margin.
xdotool keydown shift
drag 150 200 165 200 180 200
xdotool keyup shift
capture "$WORK/panned.jpg"
for dx in 0 300; do
  expect_colour "$WORK/panned.jpg" $((40 + dx)) 100 "$WHITE" 12 "margin after panning"
  expect_colour "$WORK/panned.jpg" $((70 + dx)) 100 "$RED" 40 "image after panning"
done
pass "shift-drag pans every cell"

key x
capture "$WORK/reset2.jpg"
expect_colour "$WORK/reset2.jpg" 40 100 "$RED" 40 "left edge after x"
pass "x resets the pan"

# Zoomed 1.2 again, space at window pixel (150, 150): window (0.25, 0.5), the
# point under the pointer is ((0.25 - 0.05) / 0.48, (0.5 - 0.1) / 0.96).
xdotool keydown ctrl
drag 150 200 150 180 150 160 150 140
xdotool keyup ctrl
mouse_to 150 150
key space p
wait_line $'\tInitCtrlPnts\t['
expect_line $'\tInitCtrlPnts\t[0.416667 0.416667 ]'
capture "$WORK/point.jpg"
# The marker (blue over green, radius 2.9 pixels) is centred on the pointer,
# pixel (150, 150) from the bottom; the red image is around it.
read_pixel "$WORK/point.jpg" 150 150
read -r r g b <<<"$PIX"
[ "$b" -gt 180 ] && [ "$r" -lt 90 ] || fail "no marker under the pointer: ($PIX)"
expect_colour "$WORK/point.jpg" 141 150 "$RED" 40 "image beside the marker"
pass "space while zoomed places the point under the pointer"

quit
