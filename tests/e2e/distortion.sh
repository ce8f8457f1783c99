# Distortion: "d" prints one line per cell and replaces the picture by the heat
# map in every cell; an undeformed mesh is K = 1 everywhere (the dark end of
# the scale), a non-similar deformation measures more.
source "$(dirname "$0")/lib.sh"

mesh_cells() {
  null_modules Null
  printf 'MLS:\n  Type DeformMLS\n  MLSType MLS_FIT_SIMILARITY\n'
  mesh_setting Mesh "0 1 0 1" false 20
}

{
  general 800 400 2 1 "Null MLS" DeformSetting Mesh \
    InitCtrlPnts "[ 0.25 0.25 0.75 0.3 0.5 0.75 ]" \
    DeformCtrlPnts "[ 0.25 0.25 0.75 0.3 0.6 0.85 ]"
  mesh_cells
} >"$WORK/points.params"
start_warpix points.params
wait_window
key d
wait_line "Distortion " 2
expect_line "Distortion Null: K max 1.0000, mean 1.0000, area [1.0000, 1.0000], flipped 0 (0.0%), max shift 0.00 px"
line=$(grep -F "Distortion MLS: " "$OUT") || fail "no line for the MLS cell"
case "$line" in
  "Distortion MLS: K max 1.0000,"*) fail "the non-similar MLS deformation measured as conformal: $line" ;;
  *"flipped 0 (0.0%)"*) ;;
  *) fail "unexpected MLS line: $line" ;;
esac
quit
pass "d prints one line per cell"

# Live frames: the same two cells with no points (the live script clears them).
{
  general 800 400 2 1 "Null MLS" DeformSetting Mesh AnimationFile live.anim AnimationOutput frames/
  mesh_cells
} >"$WORK/live.params"
start_live live.params
# Picture (0.2, 0.2) lies in a red square of the grid: window pixel (104, 104)
# from the bottom in cell 0 and (504, 104) in cell 1.
capture "$WORK/picture.jpg"
key d
wait_line "Distortion " 2
capture "$WORK/heat.jpg"
for x in 104 504; do
  expect_colour "$WORK/picture.jpg" $x 104 "$RED" 40 "the picture before d"
  expect_colour "$WORK/heat.jpg" $x 104 "68 1 84" 24 "K = 1 at the dark end of the scale after d"
done
key d
wait_line "Distortion " 4
capture "$WORK/again.jpg"
expect_colour "$WORK/again.jpg" 104 104 "$RED" 40 "the picture again after a second d"
quit
pass "d toggles the heat map in every mesh cell"
