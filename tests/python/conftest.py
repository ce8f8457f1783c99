"""Shared fixtures of the Python module's tests: the source tree, warpix-render,
the bundled picture, and a reader of parameter files."""
import os
import pathlib
import subprocess

import numpy as np
import pytest

import warpix

ROOT = pathlib.Path(__file__).resolve().parents[2]


def pytest_configure(config):
    # The program's console lines would only fill the test log.
    warpix.set_echo(False)


@pytest.fixture(scope="session")
def root():
    return ROOT


@pytest.fixture(scope="session")
def render_binary():
    path = os.environ.get("WARPIX_RENDER_BINARY", str(ROOT / "build" / "src" / "warpix-render"))
    if not os.access(path, os.X_OK):
        pytest.skip(f"warpix-render not built at {path}")
    return path


@pytest.fixture(scope="session")
def picture():
    return warpix.read_image(ROOT / "examples" / "demo.jpg")


def run_render(binary, args, cwd):
    """Runs warpix-render; returns its standard output, failing the test on a bad status."""
    done = subprocess.run([binary, *map(str, args)], cwd=cwd, capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout


def read_params(path):
    """A parameter file as {module: {key: value or list of values}}, by the file grammar."""
    tokens = pathlib.Path(path).read_text().split()
    modules, module, i = {}, "General", 0
    while i < len(tokens):
        token = tokens[i]
        if token.startswith("-") or token.endswith(":"):
            module = token.replace("-", "", 1).replace(":", "", 1)
            i += 1
            continue
        value = tokens[i + 1]
        if value.startswith("[") and not value.endswith("]"):
            values, j = [], (i + 2 if value == "[" else i + 1)
            if value != "[":
                values.append(value[1:])
            while tokens[j] != "]":
                values.append(tokens[j].rstrip("]"))
                if tokens[j].endswith("]"):
                    break
                j += 1
            i = j + 1
        else:
            values, i = value.strip("[]"), i + 2
        modules.setdefault(module, {})[token] = values
    return modules


def cell_keywords(modules, module):
    """Deformator() keywords of a parameter module and its settings module."""
    key_to_keyword = {key: keyword for keyword, key in warpix.KEYWORDS.items()}
    settings = modules[module].get("DeformSetting", modules["General"].get("DeformSetting"))
    keywords = {}
    for source in (modules[module], modules.get(settings, {})):
        for key, value in source.items():
            if key in key_to_keyword:
                keywords[key_to_keyword[key]] = " ".join(value) if key == "Name" else value
    return keywords


def flat_points(values):
    return np.array([float(v) for v in values]).reshape(-1, 2)
