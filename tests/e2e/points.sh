# Control points through real input: space adds a point in every cell at the
# same cell coordinates, a drag moves the target and stops at the edge of the
# unit square, release deselects (the marker turns from dark to full blue),
# "c" clears, "s" prints the history, and that history replays from the
# parameter file.
source "$(dirname "$0")/lib.sh"

{
  general 800 400 2 1 "First Second" DeformSetting Mesh AnimationFile live.anim \
    AnimationOutput frames/
  null_modules First Second
  mesh_setting Mesh
} >"$WORK/run.params"
start_live run.params

# Window pixel (500, 100) of an 800 x 400 window with 2 x 1 cells lies in
# cell 1 at ((0.625 - 0.55) / 0.4, (0.75 - 0.1) / 0.8) = (3/16, 13/16); "p"
# shows the first deformator (cell 0), so the point reached every cell.
mouse_to 500 100
key space p
wait_line $'\tDeformCtrlPnts\t['
expect_line $'\tInitCtrlPnts\t[0.1875 0.8125 ]'
expect_line $'\tDeformCtrlPnts\t[0.1875 0.8125 ]'
pass "space adds the point in every cell"

# Drag to (520, 80): ((0.65 - 0.55) / 0.4, (0.8 - 0.1) / 0.8) = (0.25, 0.875).
drag 500 100 505 95 510 90 515 85 520 80
key p
wait_line $'\tDeformCtrlPnts\t[' 2
expect_line $'\tDeformCtrlPnts\t[0.25 0.875 ]'
expect_line $'\tInitCtrlPnts\t[0.1875 0.8125 ]'
pass "drag moves the target"

# Up through v = 0.9375 (y 60), 1.0 (y 40, on the edge) and 1.0625 (y 20):
# only the first is strictly inside, so the target stops there.
hold 520 80 520 60 520 40 520 20
# Target (0.25, 0.9375) is drawn at window pixel (520, 40 + 300) from the
# bottom in cell 1 and (120, 340) in cell 0: darker while selected.
capture "$WORK/held.jpg"
xdotool mouseup 1
capture "$WORK/released.jpg"
for x in 120 520; do
  read_pixel "$WORK/held.jpg" $x 340
  read -r r g held <<<"$PIX"
  [ "$r" -lt 60 ] && [ "$g" -lt 60 ] && [ "$held" -gt 130 ] && [ "$held" -lt 210 ] ||
    fail "selected marker at ($x, 340) is ($PIX), expected dark blue"
  read_pixel "$WORK/released.jpg" $x 340
  read -r r g released <<<"$PIX"
  [ "$r" -lt 60 ] && [ "$g" -lt 60 ] && [ "$released" -gt 220 ] ||
    fail "released marker at ($x, 340) is ($PIX), expected full blue"
done
key p
wait_line $'\tDeformCtrlPnts\t[' 3
expect_line $'\tDeformCtrlPnts\t[0.25 0.9375 ]'
pass "drag stops at the edge; release deselects in every cell"

key s
wait_line $'\tHistory [2 0.1875 0.8125 0.25 0.9375]' 2
[ "$(count_lines "Deformation History:")" -eq 2 ] || fail "one history per deformator expected"
HISTORY=$(grep -m1 -F $'\tHistory [' "$OUT" | sed 's/.*History \[\(.*\)\]/\1/')
key p
wait_line $'\tInitCtrlPnts\t[]'
pass "s saves, prints the history and clears"

# (200, 200): ((0.25 - 0.05) / 0.4, (0.5 - 0.1) / 0.8) = (0.5, 0.5) in cell 0.
mouse_to 200 200
key space p
wait_line $'\tInitCtrlPnts\t[' 5
key c p
wait_line $'\tInitCtrlPnts\t[]' 2
expect_line $'\tInitCtrlPnts\t[0.5 0.5 ]'
pass "c clears"

quit

# The printed history, given back as the History key, replays the same step.
# shellcheck disable=SC2086
start_warpix run.params -General AnimationFile none -General History [ $HISTORY ]
wait_window
[ "$(count_lines "Loading History")" -eq 2 ] || fail "Loading History expected twice"
[ "$(count_lines $'\tHistory [2 0.1875 0.8125 0.25 0.9375]')" -eq 2 ] || fail "replayed history differs"
quit
pass "history replays from the parameter file"
