#!/usr/bin/python3
"""Random-input soak of the window program.

Starts the real `warpix` once under the X server of $DISPLAY (scripts/soak
provides a private one) and sends it seeded random X events through xdotool:
key presses of every control, clicks, plain, Ctrl and Shift drags, control
points added over and between the cells, pointer moves. Events go in batches,
each batch one xdotool command line, so a batch reaches the program as one
uninterrupted stream. After every batch a 'p' press is the liveness probe: the
program must print its control-point state within the deadline.

The run fails when the program hangs (the probe misses the deadline; its
threads are printed through gdb), ends early, prints an assertion or a
sanitizer report, or does not end with status 0 on Escape. Every command line
sent is written to an event list, which `--replay` sends again, line for line,
to a fresh program.

The parameter file (tests/e2e/soak.params; the format has no comments) puts
the pixel-mode cells first: 's' never clears them, so the first cell, whose
points 'p' prints, has the most points of any cell, and the drags aim at them.
The program runs in a scratch folder with Image and AnimationOutput given as
overrides, so an 'e' export lands in the scratch folder.

    soak.py SECONDS [SEED]          soak for SECONDS with SEED (default: random)
    soak.py --replay EVENTS         send a recorded event list again
Options: --binary PATH (or $WARPIX_SOAK_BINARY; default build-asan/src/warpix),
--params FILE (default tests/e2e/soak.params, or the event list's), --deadline
SECONDS (liveness, default 60), --exit-deadline SECONDS (after Escape, default
30), --keep (keep the scratch folder after a passing run), --step (replay: a
probe after every single input, so the report names the input).
"""

import argparse
import collections
import os
import random
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEFAULT_BINARY = os.path.join(ROOT, "build-asan", "src", "warpix")
DEFAULT_PARAMS = os.path.join(ROOT, "tests", "e2e", "soak.params")
IMAGE = os.path.join(ROOT, "examples", "demo.jpg")
WINDOW_TITLE = r"^Warpix \(GLUT\)$"
# Stands for the program's window id in the event list (it differs per run).
WINDOW = "WINDOW"

# Lines that make a run fail wherever they appear.
FAULT_MARKERS = (
    "Assertion failed",
    "ERROR: AddressSanitizer",
    "runtime error:",
    "ERROR: LeakSanitizer",
    "SUMMARY: UndefinedBehaviorSanitizer",
)
PROBE_LINE = "\tDeformCtrlPnts\t["

# The window draws the picture in the middle 80 % of each cell (its cell fill).
CELL_FILL = 0.8

# Keys of the help text and the controls table that the generator presses
# singly; space, c, s, e, d and p have actions of their own below.
TOGGLE_KEYS = ["h", "m", "l", "n"]
DIGIT_KEYS = [str(d) for d in range(10)]
DELTA_KEYS = ["plus", "underscore", "equal", "minus"]
HELP_KEYS = ["question", "grave"]
# Keys without an action (echoed as "Key pressed = k", F1 not at all).
UNBOUND_KEYS = ["q", "z", "k", "F1", "Tab"]
# Never sent inside a batch: they end the program (Ctrl+[ is Escape too).
FORBIDDEN_KEYS = {"Escape", "ctrl+c", "ctrl+bracketleft"}


class Layout:
    """Window size, grid and number of cells with a deformator, read from the
    General module of a parameter file (the same walk as the program's: a token
    ending in ':' starts a module, a '[' starts a list that runs to ']')."""

    def __init__(self, width, height, cols, rows, cells):
        self.width, self.height = width, height
        self.cols, self.rows = cols, rows
        self.cells = cells

    @staticmethod
    def read(path):
        with open(path, encoding="utf-8") as f:
            tokens = f.read().split()
        general = {}
        module, i = "General", 0
        while i < len(tokens):
            token = tokens[i]
            if token.startswith("-") or token.endswith(":"):
                module = token.strip("-:")
                i += 1
                continue
            key, i = token, i + 1
            values = []
            if i < len(tokens) and tokens[i].startswith("[") and not tokens[i].endswith("]"):
                i += 1
                while i < len(tokens) and not tokens[i].endswith("]"):
                    values.append(tokens[i])
                    i += 1
                i += 1
            elif i < len(tokens):
                values.append(tokens[i].strip("[]"))
                i += 1
            if module == "General":
                general[key] = values
        width, height = (int(v) for v in general["WindowDims"][:2])
        cols, rows = (int(v) for v in general["ColsRows"][:2])
        return Layout(width, height, cols, rows, len(general["Deformators"]))


class View:
    """The window's zoom and pan as the generator's own drags have set them,
    and the window's mapping from pixels to cell coordinates."""

    def __init__(self, layout):
        self.layout = layout
        self.zoom, self.tx, self.ty = 1.0, 0.0, 0.0

    def reset(self):
        self.zoom, self.tx, self.ty = 1.0, 0.0, 0.0

    def to_cell(self, px, py):
        """(cell index, u, v) under window pixel (px, py), origin top left."""
        lay = self.layout
        x, y = px / lay.width, (lay.height - py) / lay.height
        cw, ch = 1.0 / lay.cols, 1.0 / lay.rows
        margin = (1.0 - CELL_FILL) * 0.5
        i, j = int(x / cw), int(y / ch)
        scale = CELL_FILL * self.zoom
        if scale == 0.0:
            return -1, float("nan"), float("nan")
        u = (x - ((i + margin) * cw + self.tx)) / (cw * scale)
        v = (y - ((j + margin) * ch + self.ty)) / (ch * scale)
        return lay.cols * j + i, u, v

    def to_pixel(self, cell, u, v):
        """Window pixel over (u, v) of the cell, or None when that pixel is
        outside the window or belongs to another cell."""
        lay = self.layout
        i, j = cell % lay.cols, cell // lay.cols
        cw, ch = 1.0 / lay.cols, 1.0 / lay.rows
        margin = (1.0 - CELL_FILL) * 0.5
        x = (i + margin) * cw + self.tx + u * cw * CELL_FILL * self.zoom
        y = (j + margin) * ch + self.ty + v * ch * CELL_FILL * self.zoom
        px, py = round(x * lay.width), round(lay.height - y * lay.height)
        if not (0 <= px < lay.width and 0 <= py < lay.height):
            return None
        if self.to_cell(px, py)[0] != cell:
            return None
        return px, py


class Generator:
    """Seeded random batches of xdotool arguments. Each batch presses and
    releases its own modifiers and buttons and keeps the pointer inside the
    window. The targets printed by the last probe let drags start on a point."""

    # Relative weights of the actions within a batch.
    WEIGHTS = {
        "add_point": 24, "drag_point": 18, "drag_free": 4, "zoom_drag": 3, "pan_drag": 3,
        "click": 6, "move_pointer": 6, "digit": 6, "delta": 4, "toggle": 4, "reset_view": 2,
        "help": 1, "print": 1, "unbound": 2, "clear": 1, "save": 1, "distortion": 0.8,
        "export": 0.4,
    }
    MAX_POINTS = 8

    def __init__(self, seed, layout):
        self.rng = random.Random(seed)
        self.layout = layout
        self.view = View(layout)
        self.targets = []  # (u, v) of every point, in cell coordinates
        self.points = 0  # points the first cell holds, as far as known
        names = list(self.WEIGHTS)
        self._names, self._weights = names, [self.WEIGHTS[n] for n in names]

    def observe(self, targets):
        """The first cell's targets as the last probe printed them."""
        self.targets = list(targets)
        self.points = len(targets)

    def batch(self):
        rng = self.rng
        args = []
        view = self.view
        if self.points > self.MAX_POINTS and rng.random() < 0.7:
            args += self._clear()
        if not (0.25 <= view.zoom <= 4.0 and abs(view.tx) < 0.5 and abs(view.ty) < 0.5) \
                and rng.random() < 0.5:
            args += self._reset_view()
        for _ in range(rng.randint(3, 10)):
            name = rng.choices(self._names, self._weights)[0]
            args += getattr(self, "_" + name)()
        return args

    # --- positions

    def _deformator_cell(self):
        return self.rng.randrange(self.layout.cells)

    def _random_pixel(self):
        return (self.rng.randrange(self.layout.width), self.rng.randrange(self.layout.height))

    def _pixel_in_cell(self, cell, lo=0.03, hi=0.97):
        for _ in range(8):
            spot = self.view.to_pixel(cell, self.rng.uniform(lo, hi), self.rng.uniform(lo, hi))
            if spot is not None:
                return spot
        return None

    def _pixel_in_gap(self):
        """A pixel in the margin around some cell's picture."""
        lay = self.layout
        cw, ch = lay.width / lay.cols, lay.height / lay.rows
        margin = (1.0 - CELL_FILL) * 0.5
        i, j = self.rng.randrange(lay.cols), self.rng.randrange(lay.rows)
        side = self.rng.random() * margin
        if self.rng.random() < 0.5:
            side = 1.0 - side
        along = self.rng.random()
        fx, fy = (side, along) if self.rng.random() < 0.5 else (along, side)
        px = min(lay.width - 1, int((i + fx) * cw))
        py = min(lay.height - 1, lay.height - 1 - int((j + fy) * ch))
        return px, py

    def _pixel_on_point(self):
        """The pixel over a known target in some cell, with that target's index."""
        if not self.targets:
            return None
        index = self.rng.randrange(len(self.targets))
        u, v = self.targets[index]
        for _ in range(6):
            spot = self.view.to_pixel(self._deformator_cell(), u, v)
            if spot is not None:
                return spot, index
        return None

    def _step_from(self, spot, reach):
        lay = self.layout
        px = min(lay.width - 1, max(0, spot[0] + self.rng.randint(-reach, reach)))
        py = min(lay.height - 1, max(0, spot[1] + self.rng.randint(-reach, reach)))
        return px, py

    # --- building blocks

    @staticmethod
    def _move(spot):
        return ["mousemove", "--window", WINDOW, str(spot[0]), str(spot[1])]

    @staticmethod
    def _key(name):
        return ["key", name]

    def _path(self, start, steps, reach):
        path, spot = [], start
        for _ in range(steps):
            spot = self._step_from(spot, reach)
            path.append(spot)
        return path

    def _drag(self, start, button, path, modifier=None):
        args = self._move(start)
        if modifier:
            args += ["keydown", modifier]
        args += ["mousedown", str(button)]
        for spot in path:
            args += self._move(spot)
        args += ["mouseup", str(button)]
        if modifier:
            args += ["keyup", modifier]
        return args

    def _button(self):
        return self.rng.choices([1, 2, 3], [6, 2, 2])[0]

    # --- actions

    def _add_point(self):
        roll = self.rng.random()
        spot = None
        if roll < 0.8:
            spot = self._pixel_in_cell(self._deformator_cell())
        elif roll < 0.9:
            spot = self._pixel_in_gap()
        if spot is None:
            spot = self._random_pixel()
        cell = self.view.to_cell(*spot)[0]
        if 0 <= cell < self.layout.cells:
            self.points += 1
        return self._move(spot) + self._key("space")

    def _drag_point(self):
        found = self._pixel_on_point()
        if found is None:
            return self._drag_free()
        start, index = found
        path = self._path(start, self.rng.randint(2, 6), 25)
        # The target follows the pointer while it stays in the open unit square.
        _, u, v = self.view.to_cell(*path[-1])
        if 0.0 < u < 1.0 and 0.0 < v < 1.0:
            self.targets[index] = (u, v)
        return self._drag(start, self._button(), path)

    def _drag_free(self):
        start = self._random_pixel()
        return self._drag(start, self._button(), self._path(start, self.rng.randint(2, 5), 60))

    def _zoom_drag(self):
        lay, view = self.layout, self.view
        start = self._random_pixel()
        wild = self.rng.random() < 0.1
        rise = self.rng.randint(-lay.height // 4, lay.height // 4)
        if not wild and not 0.3 <= view.zoom + rise / lay.height <= 3.0:
            rise = -rise
        end_y = min(lay.height - 1, max(0, start[1] - rise))
        steps = self.rng.randint(2, 5)
        path = [(start[0], start[1] + (end_y - start[1]) * (k + 1) // steps) for k in range(steps)]
        view.zoom += (start[1] - end_y) / lay.height
        return self._drag(start, 1, path, "ctrl")

    def _pan_drag(self):
        lay, view = self.layout, self.view
        start = self._random_pixel()
        path = self._path(start, self.rng.randint(2, 5), lay.height // 12)
        view.tx += (path[-1][0] - start[0]) / lay.width
        view.ty += (start[1] - path[-1][1]) / lay.height
        return self._drag(start, 1, path, "shift")

    def _click(self):
        found = self._pixel_on_point() if self.rng.random() < 0.5 else None
        spot = found[0] if found else self._random_pixel()
        return self._move(spot) + ["click", str(self._button())]

    def _move_pointer(self):
        return self._move(self._random_pixel())

    def _digit(self):
        return self._key(self.rng.choice(DIGIT_KEYS))

    def _delta(self):
        return self._key(self.rng.choice(DELTA_KEYS))

    def _toggle(self):
        return self._key(self.rng.choice(TOGGLE_KEYS))

    def _reset_view(self):
        self.view.reset()
        return self._key("x")

    def _help(self):
        return self._key(self.rng.choice(HELP_KEYS))

    def _print(self):
        return self._key("p")

    def _unbound(self):
        return self._key(self.rng.choice(UNBOUND_KEYS))

    def _clear(self):
        self.points = 0
        self.targets = []
        return self._key("c")

    def _save(self):
        # The first cell is a pixel-mode cell: it keeps its points on 's'.
        return self._key("s")

    def _distortion(self):
        return self._key("d")

    def _export(self):
        return self._key("e")


def count_events(args):
    """Input events in one xdotool command line: every command but sleep."""
    commands = ("mousemove", "key", "keydown", "keyup", "mousedown", "mouseup", "click")
    return sum(1 for a in args if a in commands)


def split_units(args):
    """One batch cut into its smallest complete inputs (a key, a click, a whole
    drag with its modifier), each ending with nothing held; a pointer move stays
    with the input that follows it."""
    units, unit, held = [], [], 0
    commands = ("mousemove", "key", "keydown", "keyup", "mousedown", "mouseup", "click", "sleep")
    starts = [i for i, a in enumerate(args) if a in commands] + [len(args)]
    for begin, end in zip(starts, starts[1:]):
        command = args[begin:end]
        unit += command
        held += {"keydown": 1, "mousedown": 1, "keyup": -1, "mouseup": -1}.get(command[0], 0)
        if held == 0 and command[0] != "mousemove":
            units.append(unit)
            unit = []
    if unit:
        units.append(unit)
    return units


def parse_targets(line):
    values = [float(v) for v in line[len(PROBE_LINE):].strip(" ]\n").split()]
    return list(zip(values[0::2], values[1::2]))


class EventList:
    """The command lines sent, one per line: '<kind>\\t<xdotool arguments>' with
    kind batch, probe or end; WINDOW stands for the window id."""

    def __init__(self, path, header):
        self.path = path
        self.file = open(path, "w", encoding="utf-8")
        for line in header:
            self.file.write("# " + line + "\n")
        self.file.flush()

    def write(self, kind, args):
        self.file.write(kind + "\t" + shlex.join(args) + "\n")
        self.file.flush()

    def close(self):
        self.file.close()

    @staticmethod
    def read(path):
        header, lines = {}, []
        with open(path, encoding="utf-8") as f:
            for raw in f:
                raw = raw.rstrip("\n")
                if raw.startswith("# ") and ": " in raw:
                    key, value = raw[2:].split(": ", 1)
                    header[key] = value
                elif raw and not raw.startswith("#"):
                    kind, _, rest = raw.partition("\t")
                    lines.append((kind, shlex.split(rest)))
        return header, lines


class Program:
    """The window program with both output streams drained by threads into
    files and memory, so the program never blocks on its output and a wait
    returns as soon as the awaited line arrives."""

    def __init__(self, binary, params, scratch):
        self.out_path = os.path.join(scratch, "stdout.txt")
        self.err_path = os.path.join(scratch, "stderr.txt")
        env = dict(os.environ)
        env["ASAN_OPTIONS"] = "detect_leaks=0:abort_on_error=1"
        env["UBSAN_OPTIONS"] = "print_stacktrace=1:halt_on_error=1"
        export = os.path.join(scratch, "export") + os.sep
        self.proc = subprocess.Popen(
            [binary, params, "-General", "Image", IMAGE, "-General", "AnimationOutput", export],
            cwd=scratch, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, start_new_session=True)
        self.pid = self.proc.pid
        self.cond = threading.Condition()
        # The end of each stream for the failure report (the files hold all).
        self.lines = {"out": collections.deque(maxlen=200), "err": collections.deque(maxlen=200)}
        self.last_probe = None
        self.faults = []
        self.probes = 0
        self.open_streams = 2
        self.threads = [
            threading.Thread(target=self._drain, args=(self.proc.stdout, "out", self.out_path),
                             daemon=True),
            threading.Thread(target=self._drain, args=(self.proc.stderr, "err", self.err_path),
                             daemon=True),
        ]
        for t in self.threads:
            t.start()

    def _drain(self, stream, name, path):
        pending = b""
        with open(path, "wb") as log:
            while True:
                chunk = os.read(stream.fileno(), 65536)
                if chunk:
                    log.write(chunk)
                    log.flush()
                pending += chunk
                *complete, pending = pending.split(b"\n")
                if not chunk and pending:
                    complete, pending = complete + [pending], b""
                with self.cond:
                    for raw in complete:
                        line = raw.decode("utf-8", "replace")
                        self.lines[name].append(line)
                        if line.startswith(PROBE_LINE):
                            self.probes += 1
                            self.last_probe = line
                        if any(m in line for m in FAULT_MARKERS):
                            self.faults.append(line)
                    if not chunk:
                        self.open_streams -= 1
                    self.cond.notify_all()
                if not chunk:
                    return

    def alive(self):
        return self.proc.poll() is None

    def wait_probes(self, count, deadline):
        """Waits until `count` probe answers arrived: 'ok', 'ended' or 'timeout'."""
        end = time.monotonic() + deadline
        ended = None
        with self.cond:
            while self.probes < count:
                # Once the program has ended, what it wrote last is read to the
                # end of both streams before the wait gives up.
                if self.open_streams == 0:
                    return "ended"
                if ended is None and not self.alive():
                    ended = time.monotonic()
                if ended is not None and time.monotonic() - ended > 5:
                    return "ended"
                left = end - time.monotonic()
                if left <= 0:
                    return "timeout"
                self.cond.wait(min(left, 0.5))
        return "ok"

    def last_targets(self):
        with self.cond:
            return parse_targets(self.last_probe) if self.last_probe else []

    def wait_exit(self, deadline):
        try:
            status = self.proc.wait(timeout=deadline)
        except subprocess.TimeoutExpired:
            return None
        for t in self.threads:
            t.join(timeout=10)
        return status

    def threads_dump(self):
        """Where every thread of the running program stands, through gdb."""
        if shutil.which("gdb") is None:
            return "(gdb not installed: no thread dump)"
        try:
            dump = subprocess.run(
                ["gdb", "-p", str(self.pid), "-batch", "-ex", "thread apply all bt 25"],
                stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=90).stdout
        except subprocess.TimeoutExpired:
            return "(gdb did not finish within 90 s)"
        kept = [l[:200] for l in dump.splitlines() if re.match(r"^(Thread|#)", l)]
        return "\n".join(kept) or dump

    def kill(self):
        if self.alive():
            try:
                os.killpg(self.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.proc.wait()
        for t in self.threads:
            t.join(timeout=10)

    def tail(self, name, count):
        with self.cond:
            return list(self.lines[name])[-count:]


class Failure(Exception):
    """Ends a run; `hung` asks for the program's threads in the report."""

    def __init__(self, reason, hung=False):
        super().__init__(reason)
        self.reason, self.hung = reason, hung


class Soak:
    def __init__(self, args, scratch, layout):
        self.args = args
        self.scratch = scratch
        self.layout = layout
        self.program = None
        self.window = None
        self.events = 0
        self.batches = 0
        self.probes_sent = 0
        self.recent = []  # the last batches sent, for the failure report
        self.slowest = (0.0, 0)  # the longest wait for a probe's answer, after which batch
        self.events_path = os.path.join(scratch, "events.txt")
        self.log = None

    # --- X side

    def xdotool(self, args, timeout=60):
        real = [self.window if a == WINDOW else a for a in args]
        try:
            done = subprocess.run(["xdotool"] + real, stdin=subprocess.DEVNULL,
                                  capture_output=True, text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("xdotool did not finish within %d s: %s" % (timeout, shlex.join(args)))
        if done.returncode != 0:
            if not self.program.alive():
                raise Failure("the program ended with %s during batch %d"
                              % (describe_status(self.program.wait_exit(10)), self.batches))
            raise Failure("xdotool failed (%d): %s" % (done.returncode, done.stderr.strip()))

    def find_window(self, deadline=60):
        end = time.monotonic() + deadline
        while time.monotonic() < end:
            if not self.program.alive():
                raise Failure("the program ended before its window appeared")
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", WINDOW_TITLE],
                                   stdin=subprocess.DEVNULL, capture_output=True, text=True)
            ids = found.stdout.split()
            if ids:
                self.window = ids[0]
                subprocess.run(["xdotool", "windowfocus", "--sync", self.window], check=True,
                               stdin=subprocess.DEVNULL, timeout=30)
                return
            time.sleep(0.05)
        raise Failure("no window within %d s" % deadline)

    # --- sending

    def send(self, kind, args):
        self.log.write(kind, args)
        if kind == "batch":
            self.batches += 1
            self.events += count_events(args)
            self.recent = (self.recent + ["batch %d: %s" % (self.batches, shlex.join(args))])[-5:]
        self.probes_sent += sum(1 for a, b in zip(args, args[1:]) if (a, b) == ("key", "p"))
        self.xdotool(args)

    def probe(self):
        self.send("probe", ["key", "p"])
        sent = time.monotonic()
        status = self.program.wait_probes(self.probes_sent, self.args.deadline)
        took = time.monotonic() - sent
        if took > self.slowest[0]:
            self.slowest = (took, self.batches)
        if status == "timeout":
            raise Failure("no answer to the liveness probe within %g s (hung?)" % self.args.deadline,
                          hung=True)
        if status == "ended":
            raise Failure("the program ended with %s before answering the probe after batch %d"
                          % (describe_status(self.program.wait_exit(10)), self.batches))
        if self.program.faults:
            raise Failure("the running program reported a fault")

    def finish(self):
        self.send("end", ["key", "Escape"])
        status = self.program.wait_exit(self.args.exit_deadline)
        if status is None:
            raise Failure("the program did not end within %g s of Escape" % self.args.exit_deadline,
                          hung=True)
        if self.program.faults:
            raise Failure("the program reported a fault and ended with %s" % describe_status(status))
        if status != 0:
            raise Failure("Escape ended the program with %s" % describe_status(status))

    # --- the two ways to run

    def start(self, header):
        self.log = EventList(self.events_path, header)
        self.program = Program(self.args.binary, self.args.params, self.scratch)
        print("soak: program pid %d, scratch %s" % (self.program.pid, self.scratch), flush=True)
        self.find_window()
        # The pointer starts over the window, away from every cell's picture.
        self.xdotool(["mousemove", "--window", WINDOW, "2", "2"])

    def run(self, seed, seconds):
        gen = Generator(seed, self.layout)
        self.start(["warpix soak event list; WINDOW stands for the window id",
                    "seed: %d" % seed, "params: %s" % self.args.params,
                    "binary: %s" % self.args.binary])
        self.probe()
        gen.observe(self.program.last_targets())
        end = time.monotonic() + seconds
        next_report = time.monotonic() + 30
        while time.monotonic() < end:
            self.send("batch", gen.batch())
            self.probe()
            gen.observe(self.program.last_targets())
            if time.monotonic() >= next_report:
                next_report += 30
                print("soak: %d batches, %d events, %d points" %
                      (self.batches, self.events, gen.points), flush=True)
        self.finish()

    def replay(self, lines):
        self.start(["warpix soak replay of %s; WINDOW stands for the window id" %
                    self.args.replay, "seed: %s" % self.args.seed,
                    "params: %s" % self.args.params, "binary: %s" % self.args.binary])
        for kind, args in lines:
            if kind == "probe":
                self.probe()
            elif kind == "batch" and self.args.step:
                for unit in split_units(args):
                    self.send("batch", unit)
                    self.probe()
            elif kind == "batch":
                self.send("batch", args)
            elif kind == "end":
                break
        self.finish()


def describe_status(status):
    if status is None:
        return "no status"
    if status < 0:
        try:
            return "signal %d (%s)" % (-status, signal.Signals(-status).name)
        except ValueError:
            return "signal %d" % -status
    return "status %d" % status


def report_failure(soak, failure):
    program = soak.program
    print("FAIL: %s" % failure.reason)
    print("seed: %s" % soak.args.seed)
    print("batches: %d, events: %d" % (soak.batches, soak.events))
    print("event list: %s" % soak.events_path)
    if soak.recent:
        print("last batches sent (all but the last were answered by their probes; a fault while "
              "drawing can show only after the next input):")
        for line in soak.recent:
            print("  " + line)
    if program is not None:
        if failure.hung and program.alive():
            print("--- the program's threads")
            print(program.threads_dump())
        if program.alive():
            program.kill()
        else:
            program.wait_exit(10)
        print("--- exit: %s" % describe_status(program.proc.returncode))
        if program.faults:
            print("--- fault lines")
            for line in program.faults[:10]:
                print(line)
        print("--- standard output (last 25 lines; all of it in %s)" % program.out_path)
        for line in program.tail("out", 25):
            print(line)
        print("--- standard error (last 60 lines; all of it in %s)" % program.err_path)
        for line in program.tail("err", 60):
            print(line)
    print("replay: scripts/soak --replay %s" % soak.events_path)


def main():
    parser = argparse.ArgumentParser(description="Random-input soak of the warpix window.")
    parser.add_argument("seconds", nargs="?", type=float, help="how long to send events")
    parser.add_argument("seed", nargs="?", type=int, help="generator seed (default: random)")
    parser.add_argument("--replay", metavar="EVENTS", help="send a recorded event list again")
    parser.add_argument("--binary", default=os.environ.get("WARPIX_SOAK_BINARY", DEFAULT_BINARY))
    parser.add_argument("--params", help="parameter file (default: the event list's, or %s)" %
                        os.path.relpath(DEFAULT_PARAMS, ROOT))
    parser.add_argument("--deadline", type=float, default=60.0,
                        help="seconds the program may take to answer a probe (default: 60)")
    parser.add_argument("--exit-deadline", type=float, default=30.0,
                        help="seconds the program may take to end after Escape (default: 30)")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder on success")
    parser.add_argument("--step", action="store_true",
                        help="with --replay: probe after every single input of a batch, so a "
                             "failure names the input that caused it")
    args = parser.parse_args()

    lines = []
    if args.replay:
        header, lines = EventList.read(args.replay)
        args.seed = header.get("seed", "unknown")
        args.params = args.params or header.get("params", DEFAULT_PARAMS)
    elif args.seconds is None:
        parser.error("give SECONDS [SEED] or --replay EVENTS")
    else:
        if args.seed is None:
            args.seed = random.SystemRandom().randrange(1 << 31)
        args.params = args.params or DEFAULT_PARAMS
    args.params = os.path.abspath(args.params)
    args.binary = os.path.abspath(args.binary)
    if not os.access(args.binary, os.X_OK):
        print("soak: no program at %s (build it: cmake --build build-asan --target warpix, "
              "or choose one with --binary)" % args.binary, file=sys.stderr)
        return 2
    if not os.environ.get("DISPLAY"):
        print("soak: no DISPLAY (run it through scripts/soak, which starts an X server)",
              file=sys.stderr)
        return 2

    layout = Layout.read(args.params)
    scratch = tempfile.mkdtemp(prefix="warpix_soak.", dir=os.environ.get("TMPDIR", "/tmp"))
    soak = Soak(args, scratch, layout)
    what = "replay of %s" % args.replay if args.replay else "seed %d" % args.seed
    print("soak: %s, %s, %s" % (what, args.params, args.binary), flush=True)
    began = time.monotonic()
    status = "ok"
    try:
        if args.replay:
            soak.replay(lines)
        else:
            soak.run(args.seed, args.seconds)
    except Failure as failure:
        report_failure(soak, failure)
        faults = soak.program.faults if soak.program else []
        status = "FAIL (%s%s)" % (failure.reason, "; " + faults[0] if faults else "")
    except BaseException:
        if soak.program is not None:
            soak.program.kill()
        raise
    finally:
        if soak.log is not None:
            soak.log.close()
    took = time.monotonic() - began
    if status == "ok" and not args.keep:
        shutil.rmtree(scratch, ignore_errors=True)
        kept = ""
    else:
        kept = ", events in %s" % soak.events_path
    print("soak: seed %s, %d batches, %d events, %.1f s, %.1f events/s, slowest probe %.2f s "
          "(batch %d), status %s%s" %
          (args.seed, soak.batches, soak.events, took, soak.events / max(took, 1e-9),
           soak.slowest[0], soak.slowest[1], status, kept), flush=True)
    return 0 if status == "ok" else 1


if __name__ == "__main__":
    sys.exit(main())
