"""A short run of examples/compare.py: every method of the file in the table, and the figure."""
import importlib.util
import os
import subprocess
import sys


def test_compare_prints_every_method_and_writes_the_figure(root, tmp_path):
    figure = tmp_path / "compare.png"
    done = subprocess.run(
        [sys.executable, str(root / "examples" / "compare.py"), "--configs", "2", "--size", "40",
         "--figure", str(figure)],
        capture_output=True, text=True, timeout=60, env=dict(os.environ, MPLBACKEND="Agg"))
    assert done.returncode == 0, done.stdout + done.stderr
    rows = [line for line in done.stdout.splitlines() if line.startswith("| ")]
    names = [row.split("|")[1].strip() for row in rows[1:]]
    assert names == ["Mean value", "Green", "MLS affine", "MLS similarity", "MLS rigid",
                     "Thin-plate spline", "TPS, smoothing 0.01", "ARAP"]
    assert all("nan" not in row for row in rows)
    if importlib.util.find_spec("matplotlib") is not None:
        assert figure.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
