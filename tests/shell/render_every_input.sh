#!/usr/bin/env bash
# Runs warpix-render on every parameter file the project keeps (the bundled
# example, the test inputs and the fuzz corpora and regressions), with
# --metrics and --heatmap, and every animation script of the fuzz corpora
# over the bundled example. Each run must end by itself with status 0, 1 or 2:
# never by a signal (an abort, a crash), a sanitizer report or a hang.
#   render_every_input.sh <warpix-render> <source dir> <scratch dir>
set -u

render=$1
src=$2
work=$3
rm -rf "$work"
mkdir -p "$work"

# A small picture the configurations can read whatever Image they name, so
# that their deformators are really built.
picture="$src/examples/demo.jpg"

failures=0
runs=0
check() {  # check <label> <args...>: one run, judged by its status and messages
  local label=$1
  shift
  runs=$((runs + 1))
  (cd "$work" && timeout 300 "$render" -o "$work/out" --size 24x16 --metrics "$work/m.json" --heatmap "$@" \
    >"$work/stdout" 2>"$work/stderr")
  local status=$?
  local problem=""
  case $status in
    0|1|2) ;;
    124) problem="no end within 300 s" ;;
    *) problem="status $status" ;;
  esac
  if grep -qE "ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:|SUMMARY: UndefinedBehaviorSanitizer" \
    "$work/stderr"; then
    problem="${problem:+$problem, }a sanitizer report"
  fi
  if [ -n "$problem" ]; then
    failures=$((failures + 1))
    echo "FAIL: $label: $problem"
    tail -n 20 "$work/stdout" "$work/stderr"
  fi
  rm -rf "$work/out" "$work/m.json"
}

params=("$src"/examples/*.params "$src"/tests/e2e/*.params)
for folder in corpus_params regressions_params corpus_factory regressions_factory; do
  params+=("$src"/tests/fuzz/$folder/*)
done
for file in "${params[@]}"; do
  [ -f "$file" ] || continue
  # As it is, then with a picture that can be read.
  check "$file" "$file"
  check "$file (with a picture)" "$file" -General Image "$picture"
done
for folder in corpus_anim regressions_anim; do
  for script in "$src"/tests/fuzz/$folder/*; do
    [ -f "$script" ] || continue
    check "$script" --anim "$script" "$src/examples/demo.params" -General Image "$picture"
  done
done

echo "$runs runs, $failures failed"
[ "$failures" -eq 0 ]
