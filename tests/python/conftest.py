"""Shared fixtures of the Python module's tests: the demo, and small setups
and movies written on the spot."""
import gzip
import os
import shutil

import numpy as np
import pytest

SOURCE_DIR = os.environ.get(
    "TAVO_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
DEMO_SETUP = os.path.join(SOURCE_DIR, "examples", "demo.Tavosetup")


@pytest.fixture(scope="session")
def demo_movie(tmp_path_factory):
    """The demo movie, unpacked."""
    path = tmp_path_factory.mktemp("demo") / "demo.Tavomovie"
    with gzip.open(os.path.join(SOURCE_DIR, "examples", "demo.Tavomovie.gz"), "rb") as src, \
            open(path, "wb") as dst:
        shutil.copyfileobj(src, dst)
    return str(path)


def setup_text(species, forward=(), reverse=(), total_step=10, time_step=1e-6):
    """A setup file's text. species: (name, slots) pairs; forward: (a, b, c)
    triples; reverse: (a, (products...)) pairs."""
    lines = ["N_species %d" % len(species)]
    lines += ["specie %s %d 1.0 1.0e-9 1.0e-12 %d 0 0" % (name, i, slots)
              for i, (name, slots) in enumerate(species)]
    products = max([len(p) for _, p in reverse] + [1])
    lines += ["N_fwd %d ;" % len(forward), "N_rev %d ;" % len(reverse), "rev_max_mol %d ;" % products]
    lines += ["f %d + %d = %d ; kf 2.5 ;" % r for r in forward]
    lines += ["r %d = %s ; kr 3.5 ;" % (a, " + ".join(map(str, p))) for a, p in reverse]
    lines += ["temperature(K) 300.0", "viscosity 3.0", "pH 7.0",
              "total_step %d" % total_step, "time_step(s) %r" % time_step]
    return "\n".join(lines) + "\n"


def frame_text(step, blocks):
    """One movie frame as the simulator writes it; blocks: an (n, 3) array per species."""
    out = ["step %d\n" % step]
    for i, xyz in enumerate(blocks):
        out.append("specie %d\nalive %d\n" % (i, len(xyz)))
        out.append("".join("%E %E %E " % tuple(p) for p in xyz) + "\n")
    return "".join(out)


def random_frames(rng, slots, frames):
    """(step, blocks) pairs with random live counts up to each species' slots."""
    return [(3 * k, [rng.uniform(-1e-6, 1e-6, (rng.integers(0, s + 1), 3)) for s in slots])
            for k in range(frames)]


def as_written(xyz):
    """Coordinates as the movie text holds them (rounded to %E), parsed by Python."""
    return np.array([float("%E" % v) for v in np.ravel(xyz)]).reshape(-1, 3)


@pytest.fixture
def write(tmp_path):
    """write(name, text) -> path of a new file in the test's folder."""
    def _write(name, text):
        path = tmp_path / name
        path.write_text(text)
        return str(path)
    return _write
