"""Every cell of the bundled parameter files, built through Python from its
keywords and driven by add_points and set_targets, equals what warpix-render
writes for it bit for bit: the picture, the heat map and the distortion
numbers (which derive from every vertex); and load() gives the same vertices."""
import json
import math

import numpy as np
import pytest

import warpix
from conftest import cell_keywords, flat_points, read_params, run_render

# demo.params has no control points: a convex quadrilateral (the line modes
# need exactly four points) with one corner dragged.
QUAD = [0.3, 0.3, 0.7, 0.3, 0.7, 0.7, 0.3, 0.7]
QUAD_TARGETS = [0.3, 0.3, 0.76, 0.33, 0.7, 0.72, 0.3, 0.7]
SIZE = (96, 80)  # not square: a swapped axis shows

CASES = {
    "classic": ("examples/classic.params", []),
    "demo": ("examples/demo.params",
             ["-General", "InitCtrlPnts", "[", *map(str, QUAD), "]",
              "-General", "DeformCtrlPnts", "[", *map(str, QUAD_TARGETS), "]"]),
}


@pytest.fixture(scope="module", params=sorted(CASES))
def rendered(request, root, render_binary, tmp_path_factory):
    """warpix-render's files for one parameter file, and its cells through Python."""
    path, overrides = CASES[request.param]
    out = tmp_path_factory.mktemp(request.param)
    run_render(render_binary, ["-o", out, "--size", "%dx%d" % SIZE, "--metrics",
                               out / "metrics.json", "--heatmap", path, *overrides], cwd=root)
    report = {entry["module"]: entry for entry in json.loads((out / "metrics.json").read_text())}
    modules = read_params(root / path)
    general = modules["General"]
    points = flat_points(general.get("InitCtrlPnts", QUAD))
    targets = flat_points(general.get("DeformCtrlPnts", QUAD_TARGETS))
    picture = warpix.read_image(root / general["Image"])
    cells = []
    for index, module in enumerate(general["Deformators"]):
        cell = warpix.Deformator(modules[module]["Type"], picture, module=module,
                                 **cell_keywords(modules, module))
        cell.add_points(points)
        cell.set_targets(targets)
        cells.append((index, cell))
    return out, report, cells, path, overrides


def test_pictures_and_heat_maps_equal_warpix_render(rendered):
    out, report, cells, _, _ = rendered
    for index, cell in cells:
        expected = warpix.read_image(out / ("%02d_%s.png" % (index, cell.module)))
        np.testing.assert_array_equal(cell.render(size=SIZE), expected, err_msg=cell.module)
        heat = out / ("%02d_%s_heat.png" % (index, cell.module))
        if report[cell.module]["measured"]:
            np.testing.assert_array_equal(cell.heat_map(size=SIZE), warpix.read_image(heat),
                                          err_msg=cell.module)
        else:
            assert not heat.exists()
            with pytest.raises(warpix.WarpixError, match="not measured"):
                cell.heat_map()


def test_distortion_numbers_equal_the_metrics_report(rendered):
    _, report, cells, _, _ = rendered
    for _, cell in cells:
        expected = {key: (math.copysign(math.inf, -1 if value == "-inf" else 1)
                          if value in ("inf", "-inf") else value)
                    for key, value in report[cell.module].items() if key != "cell"}
        assert cell.distortion() == expected, cell.module


def test_loaded_cells_equal_the_keyword_cells(root, rendered, monkeypatch):
    _, _, cells, path, overrides = rendered
    monkeypatch.chdir(root)
    loaded = warpix.load(path, overrides)
    assert [cell.module for cell in loaded] == [cell.module for _, cell in cells]
    for (_, cell), twin in zip(cells, loaded):
        assert twin.name == cell.name and twin.type == cell.type
        np.testing.assert_array_equal(twin.points, cell.points, err_msg=cell.module)
        np.testing.assert_array_equal(twin.vertices, cell.vertices, err_msg=cell.module)
        np.testing.assert_array_equal(twin.faces, cell.faces, err_msg=cell.module)
