# A window the display cannot hold: WindowDims far beyond the virtual screen
# (1600 x 1200) opens scaled down whole with one warning, the frames it writes
# have that size, and the program runs and quits normally.
source "$(dirname "$0")/lib.sh"

{
  general 40000 30000 2 1 "First Second" DeformSetting Mesh AnimationFile one.anim \
    AnimationOutput frames/
  null_modules First Second
  mesh_setting Mesh
} >"$WORK/run.params"
printf '0.5 0.5\n0.5 0.5\n' >"$WORK/one.anim"

play run.params
expect_line "[WARNING] WindowDims 40000 30000 is larger than the display allows; using 1600 1200"
[ "$(count_lines "[WARNING] WindowDims")" -eq 1 ] || fail "one warning expected"
expect_size "$WORK/frames/Anim000000.jpg" 1600 1200
# Picture (0.2, 0.2), a red square of its grid, lies at window pixel (208, 312)
# from the bottom: the cell keeps its inner 0.8 of the scaled window.
expect_colour "$WORK/frames/Anim000000.jpg" 208 312 "$RED" 40 "the picture in the first cell"
quit
pass "a huge window is scaled down to the display"
