# Bad configurations: the documented messages and exit statuses, and no hang.
source "$(dirname "$0")/lib.sh"

{
  general 400 200 2 1 Good
  null_modules Good
  cat <<P
Unknown:
  Type Warpless
NoType:
  Name Nothing
P
} >"$WORK/run.params"
ABORT=$((128 + 6))

# expect_fatal <condition> <function>: the run ended with the fatal report.
expect_fatal() {
  [ "$STATUS" -eq $ABORT ] || fail "status $STATUS, expected $ABORT (abort)"
  grep -qF "Assertion failed: ($1), function $2" "$ERR" || fail "no fatal report ($1) in $2"
}

run_to_end run.params -General Image "$WORK/missing.jpg"
[ "$STATUS" -eq 1 ] || fail "missing image: status $STATUS"
expect_line "[ERROR] Cannot read image $WORK/missing.jpg"
pass "missing image"

run_to_end run.params -General Deformators [ Good NoType ]
expect_fatal valid GetDeformator
pass "missing Type"

# An unknown type is skipped with a warning; the rest start.
start_warpix run.params -General Deformators [ Unknown Good ]
wait_window
expect_line "[WARNING] Unknown Deformation type - Warpless"
quit
pass "unknown deformator type"

# Animation scripts: missing, lines 1 and 2 of different length, a word on
# line 2 (fatal at start, after one [ERROR] line); a word on a later line is
# skipped with a warning and the animation goes on.
printf '0.1 0.2\n0.1\n' >"$WORK/short.anim"
printf '0.1 0.2\n0.1 x\n' >"$WORK/word.anim"
printf '0.1 0.2\n0.1 0.2\n0.3 abc\n0.3 0.2\n' >"$WORK/later.anim"
for c in "missing.anim|inTextStream.is_open()" "short.anim|oldPoints.count()==newPoints.count()" \
  "word.anim|ok"; do
  script=${c%%|*}
  run_to_end run.params -General AnimationFile "$script" -General AnimationOutput frames/
  expect_fatal "${c#*|}" Animation
  [ "$(count_lines "[ERROR] ")" -eq 1 ] || fail "$script: one [ERROR] line expected"
done
play run.params -General AnimationFile later.anim -General AnimationOutput frames/
expect_line "[WARNING] Animation line skipped: 'abc' is not a number"
ls "$WORK/frames" | diff <(printf 'Anim%06d.jpg\n' 0 1) - || fail "frames of the script with a skipped line"
quit
pass "malformed animation scripts"

# No display: the window system's message and a failure status, no hang.
(cd "$WORK" && env -u DISPLAY timeout "$WAIT" "$WARPIX" run.params >"$OUT" 2>"$ERR")
STATUS=$?
[ "$STATUS" -ne 0 ] && [ "$STATUS" -ne 124 ] || fail "no display: status $STATUS"
grep -qF "failed to open display" "$ERR" || fail "no display: message missing"
pass "no display"
