"""Deformators driven from Python: control points as the window's keys and
drags move them, the quasi-conformal modes, and errors that raise with the
program's own message instead of ending the interpreter."""
import threading

import numpy as np
import pytest

import warpix

POINTS = np.array([[0.25, 0.25], [0.75, 0.25], [0.75, 0.75], [0.25, 0.75]])
TARGETS = POINTS + [[0.0, 0.0], [0.05, 0.0], [0.0, 0.05], [-0.05, 0.0]]


def mls(picture, **keywords):
    cell = warpix.Deformator("DeformMLS", picture, mls_type="MLS_RIGID", mesh=(8, 8), **keywords)
    cell.add_points(POINTS)
    return cell


def test_a_drag_equals_moving_every_target(picture):
    dragged, moved = mls(picture), mls(picture)
    assert dragged.move(1, TARGETS[1])
    expected = POINTS.copy()
    expected[1] = TARGETS[1]
    moved.set_targets(expected)
    np.testing.assert_array_equal(dragged.targets, expected)
    np.testing.assert_array_equal(dragged.vertices, moved.vertices)
    # Outside the open unit square a drag is ignored, as in the window.
    assert not dragged.move(1, (1.0, 0.5))
    np.testing.assert_array_equal(dragged.targets, expected)


def test_interpolating_maps_take_points_to_targets(picture):
    for kind, keywords in [("DeformThinPlateSplineWarp", {}), ("DeformMeanValueCoords", {})]:
        cell = warpix.Deformator(kind, picture, mesh=(8, 8), **keywords)
        cell.add_points(POINTS)
        cell.set_targets(TARGETS)
        np.testing.assert_allclose(cell.map_points(POINTS), TARGETS, atol=1e-9, err_msg=kind)
    with pytest.raises(warpix.WarpixError, match="moves its mesh vertices only"):
        mls(picture).map_points(POINTS)


def test_save_history_and_points_text_read_back(picture, tmp_path):
    cell = mls(picture)
    cell.set_targets(TARGETS)
    deformed = cell.vertices
    cell.save()
    assert len(cell.points) == 0
    np.testing.assert_array_equal(cell.rest_vertices, deformed)
    # The history replays into the same rest mesh (its numbers are short
    # enough to print exactly).
    replayed = warpix.Deformator("DeformMLS", picture, mls_type="MLS_RIGID", mesh=(8, 8),
                                 history=cell.history)
    assert cell.history.startswith("8 0.25 0.25")
    np.testing.assert_array_equal(replayed.rest_vertices, deformed)
    # The 'p' lines are parameter-file text.
    other = mls(picture)
    other.set_targets(TARGETS)
    text = other.points_text()
    assert text.startswith("\tInitCtrlPnts\t[0.25 0.25 0.75 0.25 ")
    params = tmp_path / "p.params"
    params.write_text("Image x.png Deformators [ C ] C: Type DeformMLS MLSType MLS_RIGID "
                      "DeformSetting S S: DeformType DEFORM_REGULAR_MESH MeshResolution [ 8 8 ] "
                      "DefaultRect [ 0 1 0 1 ] General: " + text)
    warpix.write_image(tmp_path / "x.png", picture)
    (loaded,) = warpix.load(params, ["-General", "Image", str(tmp_path / "x.png")])
    np.testing.assert_array_equal(loaded.targets, TARGETS)
    np.testing.assert_array_equal(loaded.vertices, other.vertices)


def test_clear_keeps_the_rest_mesh(picture):
    cell = mls(picture)
    rest = cell.rest_vertices
    cell.set_targets(TARGETS)
    cell.clear()
    assert len(cell.points) == 0 and cell.history == ""
    np.testing.assert_array_equal(cell.rest_vertices, rest)


def test_quasi_conformal_keys(picture):
    cell = warpix.Deformator("DeformQuasiConf", picture, inter_op="AffineQuad", mesh=(10, 10))
    placed = cell.add_points(POINTS + 0.013)
    # Points snap to mesh vertices.
    assert all((np.abs(cell.rest_vertices - p).sum(axis=1) == 0).any() for p in placed)
    cell.set_targets(placed + [[0, 0], [0.05, 0], [0, 0.05], [0, 0]])
    affine = cell.vertices
    assert cell.operator == 1 and cell.lines == (True, False, True, False) and cell.delta == 0.01
    cell.set_operator("MeanValCoords")
    assert cell.operator == 2 and not np.array_equal(cell.vertices, affine)
    cell.set_operator(1)
    np.testing.assert_allclose(cell.vertices, affine, atol=1e-12)
    cell.set_operator("FixedLinesTPS")
    cell.toggle_line(1)
    assert cell.lines == (True, True, True, False)
    cell.tweak_parameter(0.1)   # the '+' key: delta up by 0.001
    cell.tweak_parameter(-0.01)  # the '-' key: down by 0.001
    assert cell.delta == pytest.approx(0.01)
    assert cell.distortion()["measured"]


@pytest.mark.parametrize("call, error, message", [
    (lambda c: c.set_targets(TARGETS[:3]), ValueError, "3 given for 4"),
    (lambda c: c.set_targets([[0.5, np.nan]] * 4), ValueError, "finite"),
    (lambda c: c.move(4, (0.5, 0.5)), IndexError, "no control point 4"),
    (lambda c: c.set_operator(2), TypeError, "DeformQuasiConf"),
    (lambda c: c.change_mode(10), ValueError, "digit"),
    (lambda c: c.render(size=(0, 5)), ValueError, "size"),
    (lambda c: c.render(background=(0, 0, 256)), ValueError, "background"),
])
def test_bad_arguments_raise(picture, call, error, message):
    with pytest.raises(error, match=message):
        call(mls(picture))


@pytest.mark.parametrize("keywords, messages", [
    ({"mls_type": "MLS_NONE"},
     ["[ERROR] Cell: MLSType must be MLS_FIT_SIMILARITY", 'Assertion failed: ((mlsType=="MLS_RIGID"))']),
    ({"mls_type": "MLS_RIGID", "history": "3 0.5"},
     ['[ERROR] History: token 0 ("3") is not a count', "Assertion failed: (ok), function"]),
    ({"mls_type": "MLS_RIGID", "points": POINTS[:1], "targets": POINTS[:2]},
     ["[ERROR] General DeformCtrlPnts has more values (4) than InitCtrlPnts (2)"]),
    ({"mls_type": "MLS_RIGID", "deform_type": "DEFORM_NONE"},
     ["[ERROR] Unknown Deformation type (valid=[DEFORM_PIXEL, DEFORM_REGULAR_MESH])"]),
])
def test_fatal_stops_raise_with_the_programs_lines(picture, keywords, messages):
    with pytest.raises(warpix.WarpixError) as stop:
        warpix.Deformator("DeformMLS", picture, module="Cell", mesh=(4, 4), **keywords)
    for message in messages:
        assert message in str(stop.value)


@pytest.mark.parametrize("text, messages", [
    ("Image x.png Deformators [ A ] A: Name a",
     ["[ERROR] A: the key Type is missing", "Assertion failed: (valid), function GetDeformator"]),
    ("Deformators [ A ] A: Type DeformMLS", ["[ERROR] General: the key Image is missing"]),
    ("Image x.png Deformators [ A ] A: Type", ["Failed to read file:", "(commands.count()>i)"]),
    ("Image missing.png Deformators [ A ]", ["[ERROR] Cannot read image missing.png"]),
])
def test_parameter_file_errors_raise(tmp_path, monkeypatch, picture, text, messages):
    monkeypatch.chdir(tmp_path)
    warpix.write_image("x.png", picture[:8, :8])
    (tmp_path / "p.params").write_text(text)
    with pytest.raises(warpix.WarpixError) as stop:
        warpix.load("p.params")
    for message in messages:
        assert message in str(stop.value)


def test_keyword_errors_name_the_keyword(picture):
    with pytest.raises(TypeError, match="'mesh_size'"):
        warpix.Deformator("DeformMLS", picture, mesh_size=(4, 4))
    with pytest.raises(ValueError, match="'MLS RIGID' is not one word"):
        warpix.Deformator("DeformMLS", picture, mls_type="MLS RIGID")
    with pytest.raises(ValueError, match="Unknown Deformation type - DeformNothing"):
        warpix.Deformator("DeformNothing", picture)


def test_threads_give_the_serial_results(picture):
    def deform(cell, shifts, out):
        for shift in shifts:
            cell.set_targets(TARGETS + shift)
        out.append(cell.vertices)

    shifts = np.linspace(0, 0.02, 20)
    serial = []
    deform(mls(picture), shifts, serial)
    results = [[] for _ in range(4)]
    threads = [threading.Thread(target=deform, args=(mls(picture), shifts, out))
               for out in results]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for out in results:
        np.testing.assert_array_equal(out[0], serial[0])
