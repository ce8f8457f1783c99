#!/usr/bin/env python3
"""Compares the methods of a parameter file on random control-point configurations.

Every cell of the file (default: examples/classic.params) is deformed with the
same seeded random configurations of control points on the bundled picture:
points spread around the centre in angle order (a cage that does not cross
itself, no two points close), each target moved by up to --shift. The table gives, per method, the
median and the worst over the configurations of the distortion numbers (see
docs/rendering.md, "Reading the distortion numbers"): K max and K mean (1:
angles kept), the smallest and largest area ratio, the share of folded area
and the largest displacement in pixels. With matplotlib installed, --figure
writes the renders and heat maps of the first configuration side by side.

    PYTHONPATH=build/python /usr/bin/python3 examples/compare.py --figure docs/compare.png
"""
import argparse
import os
import pathlib
import sys

import numpy as np

import warpix

ROOT = pathlib.Path(__file__).resolve().parents[1]

# Column, the distortion key, and which end is the worst.
COLUMNS = [("K max", "k_max", max), ("K mean", "k_mean", max), ("area min", "area_min", min),
           ("area max", "area_max", max), ("folded %", "flipped_share", max),
           ("shift px", "max_shift_px", max)]


def configurations(count, points, shift, seed):
    """(points, targets) pairs, (n, 2) each, from one seeded generator."""
    rng = np.random.default_rng(seed)
    for _ in range(count):
        # Evenly spread angles with some jitter: no two points nearly coincide.
        turn = rng.uniform(0, 2 * np.pi)
        angles = turn + (np.arange(points) + rng.uniform(-0.3, 0.3, points)) * 2 * np.pi / points
        radii = rng.uniform(0.2, 0.35, points)
        origin = 0.5 + np.stack([radii * np.cos(angles), radii * np.sin(angles)], axis=1)
        direction = rng.uniform(0, 2 * np.pi, points)
        length = shift * np.sqrt(rng.uniform(0, 1, points))
        move = np.stack([length * np.cos(direction), length * np.sin(direction)], axis=1)
        yield origin, move


def deform(cell, origin, move):
    """The cell with its points cleared, then these points and targets."""
    cell.clear()
    placed = cell.add_points(origin)  # methods that snap to their mesh move them
    cell.set_targets(np.clip(placed + move, 0.01, 0.99))
    return placed


def table(cells, numbers):
    """The table's text: per method the median and the worst of every column."""
    header = "| method | " + " | ".join(f"{name} (median / worst)" for name, _, _ in COLUMNS) + " |"
    lines = [header, "|" + "---|" * (len(COLUMNS) + 1)]
    for cell in cells:
        rows = numbers[cell.module]
        if not rows:
            lines.append(f"| {cell.name} | " + " | ".join("not measured" for _ in COLUMNS) + " |")
            continue
        entries = []
        for _, key, worst in COLUMNS:
            values = np.array([row[key] for row in rows], dtype=float)
            scale = 100.0 if key == "flipped_share" else 1.0
            entries.append(f"{np.median(values) * scale:.3f} / {worst(values) * scale:.3f}")
        lines.append(f"| {cell.name} | " + " | ".join(entries) + " |")
    return "\n".join(lines)


def figure(cells, shown, path, size):
    """Renders (top) and heat maps (bottom) of the first configuration, one column per method."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no figure written")
        return False
    columns = len(cells)
    fig, axes = plt.subplots(2, columns, figsize=(1.9 * columns, 4.1), squeeze=False)
    for k, cell in enumerate(cells):
        placed, targets, render, heat = shown[cell.module]
        for row, picture in enumerate((render, heat)):
            axis = axes[row][k]
            axis.set_axis_off()
            if picture is None:
                axis.text(0.5, 0.5, "not measured", ha="center", va="center", fontsize=8)
                continue
            # Array row 0 is the top of the unit square (y = 1).
            axis.imshow(picture, extent=(0, 1, 0, 1), interpolation="nearest")
            # Points white, targets red: both stand out on the picture and the scale.
            axis.plot(placed[:, 0], placed[:, 1], "o", ms=3, mfc="white", mec="black", mew=0.5)
            axis.plot(targets[:, 0], targets[:, 1], "o", ms=2.5, mfc="red", mec="black", mew=0.4)
            axis.set_xlim(0, 1)
            axis.set_ylim(0, 1)
        axes[0][k].set_title(cell.name, fontsize=8)
    fig.tight_layout(pad=0.3)
    fig.savefig(path, dpi=size)
    plt.close(fig)
    print(f"Wrote {path}")
    return True


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--params", default="examples/classic.params",
                        help="parameter file (relative to the repository)")
    parser.add_argument("--configs", type=int, default=20, help="random configurations")
    parser.add_argument("--points", type=int, default=5,
                        help="control points per configuration (the line modes need 4)")
    parser.add_argument("--shift", type=float, default=0.08, help="largest target move")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--size", type=int, default=150, help="side of each render in pixels")
    parser.add_argument("--figure", help="PNG file of the renders and heat maps")
    args = parser.parse_args(argv)

    os.chdir(ROOT)  # the parameter files name the picture from here
    warpix.set_echo(False)
    cells = warpix.load(args.params)
    numbers = {cell.module: [] for cell in cells}
    shown = {}
    for index, (origin, move) in enumerate(configurations(args.configs, args.points, args.shift,
                                                          args.seed)):
        for cell in cells:
            placed = deform(cell, origin, move)
            result = cell.distortion()
            if result["measured"]:
                numbers[cell.module].append(result)
            if index == 0 and args.figure:
                size = (args.size, args.size)
                heat = cell.heat_map(size=size, background=(255, 255, 255)) \
                    if result["measured"] else None
                shown[cell.module] = (placed, cell.targets,
                                      cell.render(size=size, background=(255, 255, 255)), heat)
    print(f"{args.params}: {args.configs} configurations of {args.points} points, "
          f"targets moved by up to {args.shift}, seed {args.seed}")
    print(table(cells, numbers))
    if args.figure:
        figure(cells, shown, args.figure, args.size / 1.9)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
