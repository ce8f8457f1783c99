#!/usr/bin/env python3
"""What one deformation costs through Python, against the C++ benchmark in the same run.

The C++ benchmark Deform/MLS_SIM/100/16 times Deform and MapMeshVertices of a
moving-least-squares similarity deformator on a 100 x 100-cell mesh with 16
control points. This script builds the same deformator through the module
(the same blank 4 x 4 picture and mesh settings) with the same points: the
benchmark's generator (std::mt19937 with seed 1 and libstdc++'s
uniform_int_distribution and uniform_real_distribution) is reproduced here
draw for draw. It then times Deformator.set_targets, which moves every target
and brings the mesh up to date (Deform and MapMeshVertices), and runs the
benchmark binary between its rounds, so both are measured on the same
machine at the same time. Medians of the rounds are printed, of wall time and
of CPU time (which other work on a shared machine disturbs less), and the cost
of the call itself, measured on the smallest cell.

    PYTHONPATH=build-rel/python /usr/bin/python3 examples/bench_python.py \\
        --bench build-rel/bench/warpix_bench
"""
import argparse
import json
import math
import statistics
import subprocess
import sys
import time

import numpy as np

import warpix

BENCHMARK = "Deform/MLS_SIM/100/16"


class Mt19937:
    """std::mt19937: the 32-bit Mersenne Twister with its standard seeding."""

    def __init__(self, seed):
        self.state = [seed & 0xFFFFFFFF]
        for i in range(1, 624):
            previous = self.state[-1]
            self.state.append((1812433253 * (previous ^ (previous >> 30)) + i) & 0xFFFFFFFF)
        self.index = 624

    def __call__(self):
        if self.index >= 624:
            for i in range(624):
                y = (self.state[i] & 0x80000000) | (self.state[(i + 1) % 624] & 0x7FFFFFFF)
                self.state[i] = self.state[(i + 397) % 624] ^ (y >> 1) ^ (0x9908B0DF if y & 1 else 0)
            self.index = 0
        y = self.state[self.index]
        self.index += 1
        y ^= y >> 11
        y ^= (y << 7) & 0x9D2C5680
        y ^= (y << 15) & 0xEFC60000
        return y ^ (y >> 18)


def uniform_int(generator, low, high):
    """libstdc++'s uniform_int_distribution over a 32-bit generator (Lemire's method)."""
    span = high - low + 1
    product = generator() * span
    if product & 0xFFFFFFFF < span:
        threshold = (-span & 0xFFFFFFFF) % span
        while product & 0xFFFFFFFF < threshold:
            product = generator() * span
    return low + (product >> 32)


def uniform_real(generator, low, high):
    """libstdc++'s uniform_real_distribution: generate_canonical from two draws."""
    total = float(generator()) + float(generator()) * 4294967296.0
    canonical = total / 18446744073709551616.0
    if canonical >= 1.0:
        canonical = math.nextafter(1.0, 0.0)
    return canonical * (high - low) + low


def benchmark_points(rest, count):
    """The benchmark's points: distinct random vertices, targets moved by up to 0.05."""
    generator = Mt19937(1)
    used, points, targets = set(), [], []
    while len(used) < count:
        vertex = uniform_int(generator, 0, len(rest) - 1)
        angle = uniform_real(generator, 0.0, 2.0 * math.pi)
        distance = uniform_real(generator, 0.0, 0.05)
        if vertex in used:
            continue
        used.add(vertex)
        x, y = rest[vertex]
        points.append((x, y))
        targets.append((x + distance * math.cos(angle), y + distance * math.sin(angle)))
    return np.array(points), np.array(targets)


def python_round(cell, targets, seconds):
    """Median (wall, CPU) seconds per set_targets over batches lasting about `seconds`."""
    batch, walls, cpus = 50, [], []
    end = time.perf_counter() + seconds
    while time.perf_counter() < end or len(walls) < 5:
        wall, cpu = time.perf_counter(), time.process_time()
        for _ in range(batch):
            cell.set_targets(targets)
        walls.append((time.perf_counter() - wall) / batch)
        cpus.append((time.process_time() - cpu) / batch)
    return statistics.median(walls), statistics.median(cpus)


def call_cost(seconds):
    """Median seconds of set_targets on the smallest cell (an identity on one mesh cell,
    three points): what the way through Python costs by itself."""
    cell = warpix.Deformator("NullDeformator", np.zeros((4, 4, 3), np.uint8), mesh=(1, 1))
    cell.add_points([[0.2, 0.2], [0.8, 0.2], [0.5, 0.8]])
    return python_round(cell, cell.targets, seconds)[0]


def cpp_round(binary):
    """The benchmark's median (real, CPU) time in seconds (three repetitions)."""
    done = subprocess.run(
        [binary, f"--benchmark_filter=^{BENCHMARK}$", "--benchmark_repetitions=3",
         "--benchmark_report_aggregates_only=true", "--benchmark_format=json"],
        capture_output=True, text=True, check=True)
    for entry in json.loads(done.stdout)["benchmarks"]:
        if entry.get("aggregate_name") == "median":
            scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[entry["time_unit"]]
            return entry["real_time"] * scale, entry["cpu_time"] * scale
    raise RuntimeError("no median in the benchmark's output")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bench", help="warpix_bench of a Release build (omit: Python only)")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=1.0, help="length of a Python round")
    args = parser.parse_args(argv)

    warpix.set_echo(False)
    # The benchmark's deformator: a blank 4 x 4 picture, white transparent
    # within 0.1, the mesh undrawn.
    cell = warpix.Deformator("DeformMLS", np.zeros((4, 4, 3), np.uint8),
                             mls_type="MLS_FIT_SIMILARITY", mesh=(100, 100), draw_mesh=False,
                             white_to_transparent=True, transparent_color=(1, 1, 1),
                             transparency_threshold=0.1)
    points, targets = benchmark_points(cell.rest_vertices, 16)
    placed = cell.add_points(points)
    assert np.array_equal(placed, points), "the points must sit on mesh vertices"
    cell.set_targets(targets)

    overhead_us = call_cost(args.seconds) * 1e6
    python_times, cpp_times = [], []
    for _ in range(args.rounds):
        if args.bench:
            cpp_times.append(cpp_round(args.bench))
        python_times.append(python_round(cell, targets, args.seconds))
    # Wall time, and CPU time, which another load on the machine disturbs less.
    print(f"Python: the call itself (NullDeformator, 1 x 1 mesh) {overhead_us:.2f} us")
    for column, name in ((0, "wall"), (1, "CPU")):
        python_us = statistics.median(t[column] for t in python_times) * 1e6
        rounds = " ".join(f"{t[column] * 1e6:.0f}" for t in python_times)
        print(f"{name:4s} Python Deformator.set_targets {python_us:7.1f} us  (rounds: {rounds})")
        if cpp_times:
            cpp_us = statistics.median(t[column] for t in cpp_times) * 1e6
            runs = " ".join(f"{t[column] * 1e6:.0f}" for t in cpp_times)
            print(f"{name:4s} C++    {BENCHMARK:22s} {cpp_us:7.1f} us  (runs:   {runs})")
            print(f"{name:4s} Python costs {100.0 * (python_us / cpp_us - 1.0):+.1f} % over C++")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
