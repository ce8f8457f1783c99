# Start, help text, key echo, the action keys' silence, snapping toggle,
# resize warning, hidden-cell warning, and Escape ending with status 0.
source "$(dirname "$0")/lib.sh"

{
  general 600 300 2 1 "A B C"
  null_modules A B C
} >"$WORK/run.params"

start_warpix run.params
wait_window
expect_line "[WARNING] 3 deformators for 2 cells: 1 not visible (they still receive every input)"

key question
wait_line $'\t\'7..0\' - Toggle lines '
printf '%s\n' "Warpix Controls: " \
  $'\t\'h\' - Show/Hide control points' \
  $'\t\'p\' - Print control points' \
  $'\t\'s\' - Save deformation and clear control points' \
  $'\t\t(for iterative deformations)' \
  $'\t\'c\' - Clear control points' \
  $'\t\'m\' - Show/Hide mesh' \
  $'\t\' \' - (SPACE) Add control point (at a mouse location)' \
  $'\t\'+\' - Tweak a parameter (deformator-specific)' \
  $'\t\t\'+\'/\'_\' (increase by .1)' \
  $'\t\t\'=\'/\'-\' (increase by 0.01)' \
  $'\t\'l\' - Show lines (for FPI-lines scheme)' \
  $'\tCTR - Hold CONTROL and move mouse (up/down) for zooming' \
  $'\tSHFT - Hold SHIFT and move mouse for translation' \
  $'\t\'x\' - Clear all zooming' \
  $'\t\'n\' - Snap control point to the nearest non-white' \
  $'\t\'e\' - Export every cell as a PNG at the picture\'s size' \
  $'\t\'d\' - Show/Hide the distortion heat map and print its numbers' \
  "In Quasi-Conformal Mode:" \
  $'\t\'1\' - Standard FPI' \
  $'\t\'2\' - FPI + MVC' \
  $'\t\'4\' - FPI + MLS' \
  $'\t\'5\' - Quasi-conformal with line constraints' \
  $'\t\'6\' - Thin plate splines with line constraints' \
  $'\t\'7..0\' - Toggle lines ' >"$WORK/help.expected"
sed -n '/^Warpix Controls: $/,/Toggle lines $/p' "$OUT" >"$WORK/help.actual"
diff "$WORK/help.expected" "$WORK/help.actual" || fail "help text differs"
key grave
wait_line "Warpix Controls: " 2
pass "help text"

# Keys with an action are not echoed; others are, upper case included.
key h h l l m m x c 1 0 plus underscore equal minus p
key z A
wait_line "Key pressed = A"
[ "$(count_lines "Key pressed = ")" -eq 2 ] || fail "action keys were echoed"
expect_line "Key pressed = z"
pass "key echo"

key n
wait_line "Snap Vertex To Non-White: 1"
key n
wait_line "Snap Vertex To Non-White: 0"
pass "snap toggle"

xdotool windowsize "$WID" 500 240
wait_line "[WARNING] Cannot resize - not implemented. 500 x 240"
pass "resize warning"

mouse_to 100 100
quit
[ ! -s "$ERR" ] || fail "unexpected standard error output"
pass "Escape exits with 0"
