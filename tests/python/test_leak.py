"""Deformators made, deformed and dropped many times keep the process's memory flat."""
import numpy as np

import warpix


def resident_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS")


def cycle(picture, points, targets):
    cell = warpix.Deformator("DeformMLS", picture, mls_type="MLS_RIGID", mesh=(4, 4))
    cell.add_points(points)
    cell.set_targets(targets)
    return cell.vertices


def test_ten_thousand_cycles_do_not_grow_memory():
    # A cell kept alive costs about 8 KiB (picture, mesh, parameters, solver,
    # texture); the bound catches a leak of 420 bytes per cycle.
    picture = np.full((16, 16, 3), 200, np.uint8)
    points = np.array([[0.25, 0.25], [0.75, 0.25], [0.5, 0.75]])
    targets = points + 0.02
    for _ in range(1000):
        cycle(picture, points, targets)
    before = resident_kib()
    for _ in range(10000):
        cycle(picture, points, targets)
    assert resident_kib() - before < 4096
