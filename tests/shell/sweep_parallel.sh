#!/usr/bin/env bash
# scripts/sweep with two local jobs gives the records of one process: the
# same cases, cells and numbers, in any order. Skipped (77) without GNU parallel.
set -euo pipefail
binary="$1"; source="$2"; work="$3"
if ! command -v parallel >/dev/null 2>&1; then
  echo "SKIP: GNU parallel is not installed (scripts/install-deps installs the package parallel)"
  exit 77
fi
rm -rf "$work"; mkdir -p "$work"
cat > "$work/cells.params" <<PARAMS
Image $source/examples/demo.jpg
Deformators [ MLS ARAP QC Lines ]
DeformSetting Mesh
-MLS Type DeformMLS MLSType MLS_RIGID
-ARAP Type DeformAsRigidAsPossible
-QC Type DeformQuasiConf InterOp MovingLeastSquares
-Lines Type DeformQuasiConf InterOp FixedLinesTPS
-Mesh DeformType DEFORM_REGULAR_MESH MeshResolution [ 10 10 ] DefaultRect [ 0 1 0 1 ] DrawMesh false WhiteToTransparent false
PARAMS
"$binary" --random 16 --seed 3 --move 0.05 > "$work/cases.jsonl"
echo 'not a case' >> "$work/cases.jsonl"
"$binary" --cases "$work/cases.jsonl" --metrics "$work/single.jsonl" "$work/cells.params" > "$work/single.log"
"$source/scripts/sweep" -j 2 -b "$binary" -o "$work/merged.jsonl" "$work/cases.jsonl" "$work/cells.params" 2> "$work/sweep.log"
/usr/bin/python3 - "$work/single.jsonl" "$work/merged.jsonl" <<'PY'
import json, sys
def load(path):
    records = {}
    lines = []
    for text in open(path):
        r = json.loads(text)
        lines.append(r.pop("line"))
        if r["case"].startswith("line "):
            # An unreadable line is named by its number, which counts from
            # the start of its part.
            r["case"] = "unreadable"
            r["reason"] = r["reason"].split(": ", 1)[1]
        key = (r["case"], r["cell"])
        assert key not in records, ("twice", key, path)
        records[key] = r
    return records, lines
single, _ = load(sys.argv[1])
merged, lines = load(sys.argv[2])
assert len(single) == 17 * 4, len(single)
assert set(single) - set(merged) == set() and set(merged) - set(single) == set(), "different cases"
for key in single:
    if single[key] != merged[key]:
        raise SystemExit("record %s differs:\n%s\n%s" % (key, single[key], merged[key]))
# Two parts: the line numbers of the second start again at 1.
assert max(lines) < 17, "not split: %d" % max(lines)
print("merged records of two jobs equal the single run: %d records" % len(merged))
PY
