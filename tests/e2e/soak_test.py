#!/usr/bin/python3
"""Checks of the soak driver that need no display: what its generator sends
must never end or wedge the program by itself, must reach every control, and
must land on the points it aims at; the event list must read back as written;
the soak's parameter file must hold every method in both modes."""

import os
import random
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no cache folder in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import soak  # noqa: E402

LAYOUT = soak.Layout.read(soak.DEFAULT_PARAMS)
PRESS = {"keydown": "keyup", "mousedown": "mouseup"}


def commands(args):
    """The xdotool command lines of a batch as lists (command, arguments...)."""
    names = ("mousemove", "key", "keydown", "keyup", "mousedown", "mouseup", "click", "sleep")
    starts = [i for i, a in enumerate(args) if a in names] + [len(args)]
    return [args[b:e] for b, e in zip(starts, starts[1:])]


def random_targets(rng):
    return [(rng.uniform(0.01, 0.99), rng.uniform(0.01, 0.99)) for _ in range(rng.randrange(12))]


def soak_batches(seed, count):
    """`count` batches of one generator, fed made-up probe answers."""
    gen = soak.Generator(seed, LAYOUT)
    rng = random.Random(seed + 1000)
    for _ in range(count):
        gen.observe(random_targets(rng))
        yield gen.batch()


class GeneratedInput(unittest.TestCase):
    def test_batches_are_safe_to_send(self):
        # Nothing stays held after a batch (the next batch's keys would arrive
        # as Ctrl+key), no key goes out while a modifier or button is down
        # (Ctrl+[ is Escape), nothing ends the program, the pointer stays in
        # the window and every pointer move is relative to the window.
        for seed in range(40):
            for args in soak_batches(seed, 50):
                held = []
                for command in commands(args):
                    name = command[0]
                    if name in PRESS:
                        held.append((PRESS[name], command[1]))
                    elif name in PRESS.values():
                        self.assertIn((name, command[1]), held, args)
                        held.remove((name, command[1]))
                    elif name == "key":
                        self.assertEqual(held, [], args)
                        self.assertEqual(len(command), 2, args)
                        self.assertNotIn(command[1], soak.FORBIDDEN_KEYS, args)
                    elif name == "mousemove":
                        self.assertEqual(command[1:3], ["--window", soak.WINDOW], args)
                        x, y = int(command[3]), int(command[4])
                        self.assertTrue(0 <= x < LAYOUT.width and 0 <= y < LAYOUT.height, args)
                self.assertEqual(held, [], args)

    def test_every_control_is_reached(self):
        keys, clicks, drags = set(), set(), set()
        for seed in range(10):
            for args in soak_batches(seed, 200):
                modifier = None
                for command in commands(args):
                    if command[0] == "key":
                        keys.add(command[1])
                    elif command[0] == "click":
                        clicks.add(command[1])
                    elif command[0] == "keydown":
                        modifier = command[1]
                    elif command[0] == "mousedown":
                        drags.add((modifier, command[1]))
                    elif command[0] == "keyup":
                        modifier = None
        wanted = {"space", "c", "s", "p", "e", "d", "h", "m", "l", "n", "x", "question", "grave",
                  "plus", "underscore", "equal", "minus", *soak.DIGIT_KEYS, *soak.UNBOUND_KEYS}
        self.assertEqual(wanted - keys, set())
        self.assertEqual(clicks, {"1", "2", "3"})
        self.assertTrue({(None, "1"), (None, "2"), (None, "3"), ("ctrl", "1"),
                         ("shift", "1")} <= drags, drags)

    def test_same_seed_same_batches(self):
        self.assertEqual(list(soak_batches(7, 30)), list(soak_batches(7, 30)))
        self.assertNotEqual(list(soak_batches(7, 30)), list(soak_batches(8, 30)))

    def test_aim_lands_within_pick_radius(self):
        # A drag picks the nearest point within 0.01 of the press: the pixel
        # the generator aims at must map back that close, at any zoom and pan.
        rng = random.Random(3)
        view = soak.View(LAYOUT)
        aimed = 0
        for _ in range(2000):
            view.zoom, view.tx, view.ty = rng.uniform(0.4, 3), rng.uniform(-.2, .2), rng.uniform(-.2, .2)
            cell, u, v = rng.randrange(LAYOUT.cells), rng.random(), rng.random()
            spot = view.to_pixel(cell, u, v)
            if spot is None:
                continue
            aimed += 1
            back, bu, bv = view.to_cell(*spot)
            self.assertEqual(back, cell)
            self.assertLess(max(abs(bu - u), abs(bv - v)), 0.01)
        self.assertGreater(aimed, 200)

    def test_clearing_keeps_point_counts_moderate(self):
        gen = soak.Generator(11, LAYOUT)
        most = 0
        for _ in range(400):
            gen.batch()
            most = max(most, gen.points)
            gen.observe([(0.5, 0.5)] * gen.points)
        self.assertLess(most, 30)


class Replay(unittest.TestCase):
    def test_units_rebuild_the_batch_and_release_everything(self):
        for args in soak_batches(5, 100):
            units = soak.split_units(args)
            self.assertEqual([a for unit in units for a in unit], args)
            for unit in units:
                names = [c[0] for c in commands(unit)]
                self.assertEqual(sum(n in PRESS for n in names),
                                 sum(n in PRESS.values() for n in names), unit)
                # A pointer move goes with the input after it, if any.
                if unit is not units[-1]:
                    self.assertNotEqual(names[-1], "mousemove", unit)

    def test_event_list_reads_back_as_written(self):
        batches = list(soak_batches(9, 20))
        with tempfile.TemporaryDirectory() as scratch:
            path = os.path.join(scratch, "events.txt")
            log = soak.EventList(path, ["title", "seed: 9", "params: /p/soak.params"])
            for args in batches:
                log.write("batch", args)
                log.write("probe", ["key", "p"])
            log.write("end", ["key", "Escape"])
            log.close()
            header, lines = soak.EventList.read(path)
        self.assertEqual(header, {"seed": "9", "params": "/p/soak.params"})
        expected = [x for args in batches for x in (("batch", args), ("probe", ["key", "p"]))]
        self.assertEqual(lines, expected + [("end", ["key", "Escape"])])


class ParameterFile(unittest.TestCase):
    def test_every_method_in_pixel_and_mesh_mode(self):
        modules, module = {}, None
        with open(soak.DEFAULT_PARAMS, encoding="utf-8") as f:
            for line in f:
                words = line.split()
                if len(words) == 1 and words[0].endswith(":"):
                    module = modules.setdefault(words[0][:-1], {})
                elif words:
                    module[words[0]] = " ".join(words[1:])
        general = modules["General"]
        names = general["Deformators"].strip("[] ").split()
        found, meshes, clear = set(), set(), set()
        for name in names:
            m = modules[name]
            setting = modules[m.get("DeformSetting", general["DeformSetting"])]
            variant = m.get("MLSType") or m.get("InterOp") or \
                ("QuasiConf" if m.get("QuasiConf") == "true" else
                 "Rescale" if m.get("Rescale") == "true" else "")
            found.add((m["Type"], variant, setting["DeformType"]))
            if setting["DeformType"] == "DEFORM_REGULAR_MESH":
                cols, rows = setting["MeshResolution"].strip("[] ").split()
                self.assertLessEqual(int(cols) * int(rows), 30 * 30, name)
                meshes.add((int(cols), int(rows)))
                clear.add(setting["WhiteToTransparent"])
                if setting["WhiteToTransparent"] == "true":
                    self.assertEqual(setting["TransparentColor"], "[ 1 1 1 ]", name)
                    self.assertEqual(setting["TransparencyThreshold"], "0.3", name)
        methods = [("NullDeformator", ""), ("DeformMeanValueCoords", ""),
                   ("DeformGreenCoords", ""), ("DeformThinPlateSplineWarp", ""),
                   ("DeformMLS", "MLS_FIT_SIMILARITY"), ("DeformMLS", "MLS_RIGID"),
                   ("DeformMLS", "MLS_AFFINE"),
                   ("DeformAsRigidAsPossible", ""), ("DeformAsRigidAsPossible", "Rescale"),
                   ("DeformAsRigidAsPossible", "QuasiConf")]
        methods += [("DeformQuasiConf", op) for op in (
            "AffineQuad", "MeanValCoords", "ThinPlateSplines", "MovingLeastSquares",
            "FixedLinesTPS", "FixedLinesTPSNoQuasiConf")]
        for mode in ("DEFORM_PIXEL", "DEFORM_REGULAR_MESH"):
            for method in methods:
                self.assertIn(method + (mode,), found)
        self.assertTrue({(1, 1), (12, 7), (10, 10)} <= meshes, meshes)
        self.assertEqual(clear, {"true", "false"})
        self.assertLessEqual(len(names), LAYOUT.cols * LAYOUT.rows)
        self.assertEqual(LAYOUT.cells, len(names))


if __name__ == "__main__":
    unittest.main()
