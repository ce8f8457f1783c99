# Scripted animation: exactly the documented frame files at the window's size,
# frame n showing the n-th accepted line, the image upright in every cell, the
# grey cell background and dark-blue outline where they belong, "h" hiding
# them, and a last line without a final newline still written.
source "$(dirname "$0")/lib.sh"

{
  general 600 300 2 1 "Pixel Inset" AnimationFile run1.anim AnimationOutput frames/run1_
  null_modules Pixel Inset
  echo "  DeformSetting InsetMesh"
  mesh_setting InsetMesh "0.25 0.75 0.25 0.75"
} >"$WORK/run.params"
# One point; a blank line (no frame number) and a line with an extra value.
printf '0.1 0.1\n0.1 0.1\n0.12 0.1\n\n0.14 0.1\n0.16 0.1 0.5\n' >"$WORK/run1.anim"

play run.params
expect_line "Initializing anim: 2 2"
ls "$WORK/frames" >"$WORK/frames.list"
printf 'run1_Anim%06d.jpg\n' 0 1 2 3 | diff - "$WORK/frames.list" || fail "frame files differ"
for f in "$WORK"/frames/*.jpg; do expect_size "$f" 600 300; done
pass "frame files and sizes"

F0=$WORK/frames/run1_Anim000000.jpg
# Cell 0 (pixel mode) shows the picture on its whole square (pixels 30..270);
# quadrant probes at 30 + 240 * (112 or 400) / 512.
expect_colour "$F0" 82 82 "$RED" 40 "cell 0 bottom left"
expect_colour "$F0" 217 82 "$GREEN" 40 "cell 0 bottom right"
expect_colour "$F0" 82 217 "$BLUE" 40 "cell 0 top left"
expect_colour "$F0" 217 217 "$YELLOW" 40 "cell 0 top right"
# Cell 1 shows it on the mesh rectangle [0.25, 0.75]^2: pixels 390..510.
expect_colour "$F0" 416 116 "$RED" 45 "cell 1 bottom left"
expect_colour "$F0" 484 116 "$GREEN" 45 "cell 1 bottom right"
expect_colour "$F0" 416 184 "$BLUE" 45 "cell 1 top left"
expect_colour "$F0" 484 184 "$YELLOW" 45 "cell 1 top right"
pass "frame 0 shows the picture upright in every cell"

# Around the rectangle the cell's grey square shows, outlined in dark blue on
# its edge (pixel 330); outside it the white margin.
expect_colour "$F0" 354 150 "$GREY" 8 "grey cell background"
expect_colour "$F0" 315 150 "$WHITE" 8 "white margin"
outline=0
for x in 329 330 331; do
  read_pixel "$F0" $x 150
  read -r r g b <<<"$PIX"
  [ $((b - r)) -gt 50 ] && [ "$r" -lt 110 ] && outline=1
done
[ $outline -eq 1 ] || fail "no dark-blue outline at the left edge of cell 1's square"
pass "cell background and outline"

# The target marker follows the script: line 3 (x 0.12, pixel 59) in frame 1,
# line 6 (x 0.16, pixel 68) in frame 3; the red picture elsewhere.
F1=$WORK/frames/run1_Anim000001.jpg
F3=$WORK/frames/run1_Anim000003.jpg
for probe in "$F1 59" "$F3 68"; do
  read -r file x <<<"$probe"
  read_pixel "$file" "$x" 54
  read -r r g b <<<"$PIX"
  [ "$b" -gt 180 ] && [ "$r" -lt 90 ] || fail "no marker at ($x, 54) of $(basename "$file"): ($PIX)"
done
expect_colour "$F1" 68 54 "$RED" 45 "no marker at frame 3's position in frame 1"
pass "frame n shows the n-th accepted line"

quit

# "h" hides the grey square and the outline (live frames).
rm -rf "$WORK/frames" && mkdir -p "$FRAMES"
start_live run.params -General AnimationFile live.anim -General AnimationOutput frames/
capture "$WORK/shown.jpg"
expect_colour "$WORK/shown.jpg" 354 150 "$GREY" 8 "grey before h"
key h
capture "$WORK/hidden.jpg"
expect_colour "$WORK/hidden.jpg" 354 150 "$WHITE" 8 "background hidden by h"
for x in 329 330 331; do expect_colour "$WORK/hidden.jpg" $x 150 "$WHITE" 20 "outline hidden by h"; done
expect_colour "$WORK/hidden.jpg" 416 116 "$RED" 45 "picture still drawn"
quit
pass "h hides the cell background and outline"

# No final newline: the last line's frame is still written; no AnimationOutput
# writes into the current directory.
printf '0.1 0.1\n0.1 0.1\n0.2 0.1' >"$WORK/run2.anim"
play run.params -General AnimationFile run2.anim -General AnimationOutput ''
[ -e "$WORK/Anim000000.jpg" ] && [ -e "$WORK/Anim000001.jpg" ] && [ ! -e "$WORK/Anim000002.jpg" ] ||
  fail "expected Anim000000.jpg and Anim000001.jpg in the working directory"
quit
pass "last line without newline is written"
