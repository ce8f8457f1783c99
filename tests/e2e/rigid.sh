# As-rigid-as-possible in the real window: plain, rescaled and quasi-conformal
# start cells beside a null cell. Four points placed with space (snapped to
# mesh vertices) and one dragged: the deforming cells change while the null
# cell does not; dragged back, every cell is at rest again. Then a 100 x 100
# cell: its preparation and a drag leave the window redrawing.
source "$(dirname "$0")/lib.sh"

{
  general 800 800 2 2 "Null Plain Rescaled QuasiConf" DeformSetting Mesh \
    AnimationFile live.anim AnimationOutput frames/
  null_modules Null
  printf 'Plain:\n  Type DeformAsRigidAsPossible\n'
  printf 'Rescaled:\n  Type DeformAsRigidAsPossible\n  Rescale true\n'
  printf 'QuasiConf:\n  Type DeformAsRigidAsPossible\n  QuasiConf true\n  Rescale true\n'
  mesh_setting Mesh "0 1 0 1" false 32
} >"$WORK/run.params"

start_live run.params
grep -q "Unknown Deformation type - DeformAsRigidAsPossible" "$OUT" &&
  fail "the factory does not build DeformAsRigidAsPossible"

# Cells of 400 x 400 pixels, bottom row first: Null (0), Plain (1),
# Rescaled (2), QuasiConf (3); cell coordinate u lies at x = 400 col + 40 +
# 320 u, v at y = 400 row + 40 + 320 v from the bottom. Mesh vertices at
# multiples of 1/32; 7/32, 17/32 and 25/32 are centres of picture squares.
key h
capture "$WORK/before.jpg"
for at in "110 290" "290 290" "290 110" "110 110"; do
  # shellcheck disable=SC2086
  mouse_to $at
  key space
done
wait_line "actual=[" 12
expect_line "actual=[0.21875, 0.21875]"
expect_line "actual=[0.78125, 0.78125]"
grep -q "WARNING" "$OUT" && fail "placing the points printed a warning"
pass "space snaps the points to mesh vertices in every cell"

# Probes over a cell's unit square (offsets from the cell's bottom left).
PROBES="110 110 170 110 290 110 110 170 230 230 290 290 170 290 110 290 200 200 260 140"
# changed <before> <after> <dx> <dy>: how many probes differ by more than 60.
changed() {
  local n=0 u v old
  set -- "$1" "$2" "$3" "$4" $PROBES
  local a=$1 b=$2 dx=$3 dy=$4
  shift 4
  while [ $# -ge 2 ]; do
    u=$1 v=$2
    shift 2
    read_pixel "$a" $((u + dx)) $((v + dy))
    old=$PIX
    read_pixel "$b" $((u + dx)) $((v + dy))
    [ "$(colour_distance "$old" "$PIX")" -gt 60 ] && n=$((n + 1))
  done
  echo $n
}
CELLS="Plain:400:0 Rescaled:0:400 QuasiConf:400:400"
# each_cell <before> <after> <test> <what>: for each rigid cell, fails with
# "the <cell> cell <what>" unless the count of changed probes passes
# [ n <test> ] (for example "-ge 2" or "-eq 0").
each_cell() {
  local cell name dx dy n
  for cell in $CELLS; do
    IFS=: read -r name dx dy <<<"$cell"
    n=$(changed "$1" "$2" "$dx" "$dy")
    # shellcheck disable=SC2086
    [ "$n" $3 ] || fail "the $name cell $4 ($n probes changed)"
  done
}

# Point 3 from (7/32, 25/32) to (17/32, 25/32), dragged in the null cell.
drag 110 510 135 510 160 510 185 510 210 510
capture "$WORK/after.jpg"
[ "$(changed "$WORK/before.jpg" "$WORK/after.jpg" 0 0)" -eq 0 ] || fail "the null cell changed"
each_cell "$WORK/before.jpg" "$WORK/after.jpg" "-ge 2" "did not deform"
pass "a drag deforms the three cells and leaves the null cell"

# Back to where it started: targets equal to the originals give the rest mesh.
drag 210 510 185 510 160 510 135 510 110 510
capture "$WORK/back.jpg"
each_cell "$WORK/before.jpg" "$WORK/back.jpg" "-eq 0" "is not back at rest"
pass "dragged back, every cell is at rest again"
quit

# A 100 x 100 mesh: the preparation at the fourth point and a drag do not
# stop the redraws. Each drag step waits for a frame drawn after it (the
# newest frame's successor is complete once the frame after that exists), so
# the check holds however slowly a busy machine draws.
{
  general 600 600 1 1 "Plain" DeformSetting Mesh AnimationFile live.anim AnimationOutput frames/
  printf 'Plain:\n  Type DeformAsRigidAsPossible\n  Rescale true\n'
  mesh_setting Mesh "0 1 0 1" false 100
} >"$WORK/large.params"
start_live large.params
# The unit square covers pixels 60..540 of the 600-pixel cell.
for at in "160 440" "440 440" "440 160" "160 160"; do
  # shellcheck disable=SC2086
  mouse_to $at
  key space
done
wait_line "actual=[" 4
capture "$WORK/large_before.jpg"
hold 160 160 180 170 200 180 220 190
for step in 1 2 3 4 5; do
  mouse_to $((220 + 8 * step)) $((190 + 4 * step))
  newest=$(frame_number "$(ls "$FRAMES" | tail -1)")
  deadline=$((SECONDS + WAIT))
  while [ ! -e "$(printf '%s/Anim%06d.jpg' "$FRAMES" $((newest + 2)))" ]; do
    kill -0 "$PID" 2>/dev/null || fail "program ended during the drag on the 100 x 100 mesh"
    [ $SECONDS -lt $deadline ] || fail "no frame drawn within $WAIT s after drag step $step on the 100 x 100 mesh"
    sleep 0.02
  done
done
xdotool mouseup 1
capture "$WORK/large_after.jpg"
# The probes over the upper left of the unit square, around the dragged point.
n=$(changed "$WORK/large_before.jpg" "$WORK/large_after.jpg" 0 200)
[ "$n" -ge 2 ] || fail "the 100 x 100 cell did not follow the drag ($n probes changed)"
pass "a 100 x 100 cell keeps redrawing while a point is dragged"
quit

# A scripted animation moves the points of all three cells: the last frame
# differs from the first in each of them.
{
  general 800 800 2 2 "Null Plain Rescaled QuasiConf" DeformSetting Mesh \
    AnimationFile run.anim AnimationOutput frames/
  null_modules Null
  printf 'Plain:\n  Type DeformAsRigidAsPossible\n'
  printf 'Rescaled:\n  Type DeformAsRigidAsPossible\n  Rescale true\n'
  printf 'QuasiConf:\n  Type DeformAsRigidAsPossible\n  QuasiConf true\n  Rescale true\n'
  mesh_setting Mesh "0 1 0 1" false 32
} >"$WORK/anim.params"
A="0.21875 0.21875 0.78125 0.21875 0.78125 0.78125"
printf '%s 0.21875 0.78125\n%s 0.21875 0.78125\n%s 0.3 0.75\n%s 0.4 0.72\n' "$A" "$A" "$A" "$A" \
  >"$WORK/run.anim"
rm -rf "$FRAMES"
mkdir -p "$FRAMES"
play anim.params
expect_line "Initializing anim: 8 8"
last=$(ls "$FRAMES" | tail -1)
each_cell "$FRAMES/Anim000000.jpg" "$FRAMES/$last" "-ge 2" "did not follow the animation"
pass "the three cells follow an animation"
quit
