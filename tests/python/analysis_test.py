"""Whole frames, padded arrays and regions against the C++ reader, the region
table's inRegion, the H5MD export and the ASE and MDAnalysis readers; the
objects' Python manners (pickling through real worker processes, errors,
paths, with)."""
import multiprocessing
import os
import pathlib
import pickle
import subprocess
import sys

import numpy as np
import pytest

import tavo
from conftest import DEMO_SETUP, SOURCE_DIR, frame_text, random_frames, setup_text
from module_test import read_dump

DEMO_REGIONS = os.path.join(SOURCE_DIR, "examples", "demo.regions")


def same(a, b):
    """Equal arrays, NaN where NaN, compared as bit patterns."""
    return a.shape == b.shape and a.tobytes() == b.tobytes()


@pytest.fixture(scope="module")
def demo_dump(demo_movie, tmp_path_factory):
    dump = tmp_path_factory.mktemp("dump") / "frames.f64"
    subprocess.run([os.environ["TAVO_FRAME_DUMP"], DEMO_SETUP, demo_movie, str(dump)], check=True)
    return read_dump(dump, 4)


def padded_from_dump(blocks, slots):
    xyz = np.full((sum(slots), 3), np.nan)
    at = 0
    for block, n in zip(blocks, slots, strict=True):
        xyz[at:at + len(block)] = block
        at += n
    return xyz


def test_whole_frames_and_padded_arrays_equal_the_cpp_reader(demo_movie, demo_dump):
    m = tavo.Movie(DEMO_SETUP, demo_movie)
    slots = [s.slots for s in m.setup.species]
    assert m.slot_species.tolist() == sum(([i] * n for i, n in enumerate(slots)), [])
    positions, alive = m.padded()
    assert positions.shape == (300, sum(slots), 3) and alive.dtype == bool
    for k, (_, blocks) in enumerate(demo_dump):
        assert same(positions[k], padded_from_dump(blocks, slots))
        assert alive[k].tolist() == np.isfinite(positions[k, :, 0]).tolist()
        frame = m[k]
        assert same(frame.all_positions(), np.concatenate(blocks))
        assert frame.species_ids.tolist() == sum(([s] * len(b) for s, b in enumerate(blocks)), [])
    # Picked frames are the same rows, in the order asked.
    for pick, rows in [(slice(-5, None), np.arange(295, 300)), ([7, -1, 7], [7, 299, 7]),
                       (slice(None, None, -97), [299, 202, 105, 8])]:
        assert same(m.padded(pick)[0], positions[rows])
    assert same(m[::10].padded([1, 2])[0], positions[[10, 20]])
    assert same(m["ES"], m.counts[:, 2])


def test_padded_layout_equals_the_h5md_export(demo_movie, tmp_path):
    h5py = pytest.importorskip("h5py", reason="python3-h5py is not installed")
    cli = os.environ.get("TAVO_CLI")
    if not cli:
        pytest.skip("the tavo command is not built")
    out = tmp_path / "demo.h5md"
    run = subprocess.run([cli, "export", "--format", "h5md", "--scale", "1", "-o", str(out), DEMO_SETUP,
                          demo_movie], capture_output=True, text=True)
    if run.returncode == 2:  # the command line is refused
        pytest.skip("tavo export has no H5MD format yet: " + run.stderr.strip())
    assert run.returncode == 0, run.stderr
    m = tavo.Movie(DEMO_SETUP, demo_movie)
    positions, alive = m.padded()
    with h5py.File(out, "r") as f:
        particles = f["particles/all"]
        assert same(particles["position/value"][()].astype(np.float64), positions)
        assert np.array_equal(particles["alive/value"][()] != 0, alive)
        assert np.array_equal(particles["species"][()], m.slot_species)


# Every region type, shells with either shape the larger, and shapes whose
# numbers make them empty or turn them inside out.
REGIONS = """N_regions 11
0 box ( 1e-7 -2e-7 0 ) ( 1e-6 2e-6 5e-7 )
1 boxshell ( 0 0 0 ) ( 4e-6 4e-6 4e-6 2e-6 2e-6 2e-6 )
2 boxshell ( 0 1e-7 0 ) ( 3e-6 1e-6 1e-6 1e-6 2e-6 3e-6 )
3 sphere ( 5e-7 0 -5e-7 ) ( 1.5e-6 )
4 sphereshell ( 0 0 0 ) ( 1.7e-6 2e-6 )
5 sphereshell ( 0 0 0 ) ( 2.5e-6 1e-6 )
6 cylinder ( 0 0 0 ) ( 1e-6 4e-6 )
7 cylindershell ( 0 5e-7 0 ) ( 1e-6 2e-6 3e-6 )
8 cylindershell ( 0 0 0 ) ( 2e-6 1e-6 2e-6 )
9 sphere ( 0 0 0 ) ( -1e-6 )
10 box ( 0 0 0 ) ( 1e-6 -1e-6 1e-6 )
"""


def test_membership_and_volumes_equal_the_region_tables(tmp_path):
    path = tmp_path / "all.regions"
    path.write_text(REGIONS)
    rng = np.random.default_rng(11)
    half = 3e-6
    points = rng.uniform(-half, half, (200000, 3))
    points[:6] = [[0.6e-6, -2e-7, 0], [np.nan, 0, 0], [0, 0, 0], [2e-6, 0, 0], [1.7e-6, 0, 0], [0, 1e-6, 0]]
    points.tofile(tmp_path / "points.f64")
    subprocess.run([os.environ["TAVO_REGION_DUMP"], str(path), str(tmp_path / "points.f64"),
                    str(tmp_path / "answers")], check=True, stdout=subprocess.DEVNULL)
    answers = np.fromfile(tmp_path / "answers", dtype=np.uint8).reshape(len(points), -1).astype(bool)
    regions = tavo.Regions(path)
    assert len(regions) == answers.shape[1] == 11
    types = [line.split()[1] for line in REGIONS.splitlines()[1:]]
    for k, region in enumerate(regions):
        assert (region.id, region.type) == (k, types[k])
        assert np.array_equal(regions.contains(points, k), answers[:, k]), region
        assert np.array_equal(region.contains(points.reshape(-1, 100, 3)).ravel(), answers[:, k])
        # The volume against the fraction of uniform points inside.
        fraction = answers[:, k].mean()
        sigma = np.sqrt(max(fraction * (1 - fraction), 1e-6) / len(points))
        assert abs(region.volume / (2 * half) ** 3 - fraction) < 5 * sigma, region
    volumes = regions.volumes
    smallest = np.where(answers, volumes, np.inf).argmin(axis=1)
    assert np.array_equal(regions.which(points), np.where(answers.any(axis=1), smallest, -1))


def square(k):
    """A worker's job: reads frame k of the movie pickled into it."""
    frame = MOVIE[k]
    return k, frame.step, frame.all_positions().sum(), REGIONS_OF_DEMO.contains(frame.all_positions(), 1).sum()


def start_worker(movie, regions):
    global MOVIE, REGIONS_OF_DEMO
    MOVIE, REGIONS_OF_DEMO = movie, regions


def test_movies_and_regions_pickle_into_worker_processes(demo_movie):
    m = tavo.Movie(pathlib.Path(DEMO_SETUP), demo_movie.encode())
    regions = tavo.Regions(DEMO_REGIONS)
    with multiprocessing.get_context("spawn").Pool(2, start_worker, (m, regions)) as pool:
        got = pool.map(square, range(0, 300, 37))
    for k, step, total, inside in got:
        frame = m[k]
        assert (step, total, inside) == (frame.step, frame.all_positions().sum(),
                                         regions.contains(frame.all_positions(), 1).sum())
    assert len(got) == 9
    assert pickle.loads(pickle.dumps(m[5::37])).indices.tolist() == list(range(5, 300, 37))


NOBODY_READS = """
import os, sys, tempfile, tavo
with tempfile.TemporaryDirectory() as folder:
    path = os.path.join(folder, "locked.Tavosetup")
    open(path, "w").close()
    os.chmod(path, 0)
    try:
        tavo.Setup(path)
    except tavo.PermissionError as e:
        assert isinstance(e, PermissionError) and isinstance(e, tavo.Error) and e.filename == path, e
        print("refused")
"""


def test_permission_denied_is_a_permission_error():
    # Root reads every file: the check runs as nobody.
    user = 65534 if os.geteuid() == 0 else None
    run = subprocess.run([sys.executable, "-c", NOBODY_READS], user=user, capture_output=True,
                         text=True, cwd="/",
                         env=dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(tavo.__file__))))
    assert run.stdout.strip() == "refused", run.stderr


# Each row: what is opened, the exception type, the OSError it must be (None:
# a fault of the content, no OSError), and a text the message must hold.
@pytest.mark.parametrize("opener, cls, oserror, named", [
    (lambda d, w: tavo.Setup(d / "none.Tavosetup"), tavo.FileNotFoundError, FileNotFoundError, "none.Tavosetup"),
    (lambda d, w: tavo.Movie(DEMO_SETUP, d / "none.Tavomovie"), tavo.FileNotFoundError, FileNotFoundError,
     "none.Tavomovie"),
    (lambda d, w: tavo.Regions(str(d / "none.regions").encode()), tavo.FileNotFoundError, FileNotFoundError,
     "none.regions"),
    (lambda d, w: tavo.Movie(DEMO_SETUP, d), tavo.IsADirectoryError, IsADirectoryError,
     "Is a directory"),
    (lambda d, w: tavo.Setup(d), tavo.IsADirectoryError, IsADirectoryError, "Is a directory"),
    (lambda d, w: tavo.Regions(d), tavo.IsADirectoryError, IsADirectoryError, "Is a directory"),
    (lambda d, w: tavo.Setup(os.fsdecode(bytes(d) + b"/\xff.Tavosetup")), tavo.FileNotFoundError,
     FileNotFoundError, "\\xff.Tavosetup"),
    (lambda d, w: tavo.Regions(w("bad.regions", "N_regions 1\n0 cube ( 0 0 0 ) ( 1 )\n")), tavo.Error, None,
     "bad.regions"),
    (lambda d, w: tavo.Setup(w("two.Tavosetup", setup_text([("A", 1), ("A", 2)]))).species_id("A"),
     tavo.Error, None, "species 0 and 1 are both called 'A'"),
    (lambda d, w: tavo.Movie(w("two.Tavosetup", setup_text([("A", 1), ("A", 2)])),
                             w("m.Tavomovie", frame_text(0, [np.ones((1, 3)), np.ones((2, 3))])))["A"],
     tavo.Error, None, "both called 'A'"),
])
def test_errors_are_tavo_errors_and_the_matching_os_error(tmp_path, write, opener, cls, oserror, named):
    with pytest.raises(cls) as caught:
        opener(tmp_path, write)
    error = caught.value
    assert isinstance(error, tavo.Error) and isinstance(error, ValueError)
    assert isinstance(error, OSError) == (oserror is not None)
    if oserror is not None:
        assert isinstance(error, oserror) and error.errno is not None and error.filename is not None
    assert named in str(error)


def test_a_closed_movie_refuses_and_its_frames_stay(write):
    rng = np.random.default_rng(5)
    frames = random_frames(rng, [4, 6], 3)
    setup = write("s.Tavosetup", setup_text([("A", 4), ("B", 6)]))
    with tavo.Movie(setup, write("m.Tavomovie", "".join(frame_text(*f) for f in frames))) as m:
        kept = m[-1]
        lazy = m[::2]
    assert m.closed and "closed" in repr(m)
    for use in (len, lambda m: m[0], lambda m: m.padded(), lambda m: lazy[0], lambda m: m.refresh()):
        with pytest.raises(tavo.Error, match="closed"):
            use(m)
    assert kept.all_positions().shape == (sum(len(b) for b in frames[-1][1]), 3)


@pytest.mark.parametrize("elements, options", [
    (None, []), ({"E": "Fe", "ES": "Co", "P": "C"}, ["--element", "E=Fe", "--element", "ES=Co", "--element", "P=C"])])
def test_frames_become_ase_atoms_as_the_xyz_export_names_them(demo_movie, tmp_path, elements, options):
    ase_io = pytest.importorskip("ase.io", reason="python3-ase is not installed")
    cli = os.environ.get("TAVO_CLI")
    if not cli:
        pytest.skip("the tavo command is not built")
    frame = tavo.Movie(DEMO_SETUP, demo_movie)[123]
    atoms = frame.to_ase(elements)
    out = tmp_path / "f.xyz"
    subprocess.run([cli, "export", "--format", "xyz", "--frames", "123", "--scale", "1e10", "-q", "-o",
                    str(out), *options, DEMO_SETUP, demo_movie], check=True, capture_output=True)
    exported = ase_io.read(out)
    assert atoms.get_chemical_symbols() == exported.get_chemical_symbols()
    assert atoms.arrays["name"].tolist() == exported.arrays["name"].tolist()
    assert np.array_equal(atoms.positions, exported.positions)
    assert np.array_equal(atoms.positions, frame.all_positions() * 1e10)
    with pytest.raises(tavo.Error):
        frame.to_ase({"Q": "Fe"})


def test_movies_become_mdanalysis_universes_on_the_padded_layout(demo_movie):
    pytest.importorskip("MDAnalysis", reason="python3-mdanalysis is not installed")
    m = tavo.Movie(DEMO_SETUP, demo_movie)
    universe = m.to_mdanalysis(slice(3, None, 50))
    positions, _ = m.padded(slice(3, None, 50))
    assert universe.atoms.names.tolist() == [m.species[s] for s in m.slot_species]
    assert len(universe.select_atoms("name ES")) == m.setup.species[2].slots
    expected_times = m.times[3::50] * 1e12
    for ts, xyz, time in zip(universe.trajectory, positions, expected_times, strict=True):
        assert same(ts.positions, (xyz * 1e10).astype(np.float32)) and ts.time == time


def not_yet(error):
    """Skips where the reader predates appended runs and compressed movies."""
    if not hasattr(tavo.Movie, "runs"):
        pytest.skip("this build reads neither appended runs nor compressed movies: " + str(error))
    raise error


def gzipped(path, folder):
    import gzip
    with open(path, "rb") as src, gzip.open(folder / "m.Tavomovie.gz", "wb") as dst:
        dst.write(src.read())
    return folder / "m.Tavomovie.gz"


def zstd_packed(path, folder):
    if subprocess.run(["sh", "-c", "command -v zstd"], capture_output=True).returncode != 0:
        pytest.skip("zstd is not installed")
    subprocess.run(["zstd", "-q", "-o", str(folder / "m.Tavomovie.zst"), path], check=True)
    return folder / "m.Tavomovie.zst"


@pytest.mark.parametrize("pack", [gzipped, zstd_packed])
def test_compressed_movies_read_as_the_plain_one(demo_movie, tmp_path, pack):
    packed = pack(demo_movie, tmp_path)
    plain = tavo.Movie(DEMO_SETUP, demo_movie)
    try:
        m = tavo.Movie(DEMO_SETUP, packed)
    except tavo.Error as error:
        not_yet(error)
    assert np.array_equal(m.steps, plain.steps) and np.array_equal(m.counts, plain.counts)
    for got, expected in zip(m.padded(slice(None, None, 7)), plain.padded(slice(None, None, 7)), strict=True):
        assert same(got, expected)
    assert same(pickle.loads(pickle.dumps(m))[-1].all_positions(), plain[-1].all_positions())


def test_appended_runs_read_as_the_runs_apart(write):
    rng = np.random.default_rng(17)
    setup = write("s.Tavosetup", setup_text([("A", 3), ("B", 5)]))
    runs = [random_frames(rng, [3, 5], n) for n in (4, 3)]
    texts = ["".join(frame_text(*f) for f in run) for run in runs]
    apart = [tavo.Movie(setup, write("run%d.Tavomovie" % i, t)) for i, t in enumerate(texts)]
    try:
        m = tavo.Movie(setup, write("both.Tavomovie", "".join(texts)))
    except tavo.Error as error:
        not_yet(error)
    assert [tuple(r) for r in m.runs] == [(0, 4, 0, 9), (4, 3, 0, 6)]
    assert np.array_equal(m.steps, np.concatenate([a.steps for a in apart]))
    for got, expected in zip(m.padded(), zip(*(a.padded() for a in apart)), strict=True):
        assert same(got, np.concatenate(expected))
