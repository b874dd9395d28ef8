"""The tavo module against the C++ reader, the population command and files
written on the spot."""
import gc
import gzip
import os
import subprocess
import threading

import numpy as np
import pytest

import tavo
from conftest import (DEMO_SETUP, SOURCE_DIR, as_written, frame_text, random_frames,
                      setup_text)


def test_setup_gives_plain_values():
    s = tavo.Setup(DEMO_SETUP)
    assert [tuple(sp) for sp in s.species] == [
        (0, "S", 1.0, 4.0e-9, 2.0e-11, 1500, 900, 0),
        (1, "E", 5.0, 8.0e-9, 1.0e-12, 300, 300, 1),
        (2, "ES", 6.0, 9.0e-9, 1.0e-12, 300, 0, 1),
        (3, "P", 1.0, 4.0e-9, 2.0e-11, 1500, 0, 0)]
    assert s.forward == [(0, 1, 2, 1.6e-17)]
    assert s.reverse == [(2, (1, 3), 150.0), (3, (0,), 20.0)]
    assert (s.temperature, s.viscosity, s.pH, s.total_step, s.time_step) == (310.0, 1.0, 7.2, 300, 1.0e-4)
    assert (s.species_names, s.species_id("ES"), s.species[3].name) == (["S", "E", "ES", "P"], 2, "P")


def read_dump(path, species):
    """The frames frameDump wrote: a (step, [positions per species]) list."""
    values, at, frames = np.fromfile(path, dtype=np.float64), 0, []
    while at < len(values):
        step, at, blocks = int(values[at]), at + 1, []
        for _ in range(species):
            n = int(values[at])
            blocks.append(values[at + 1:at + 1 + 3 * n].reshape(n, 3))
            at += 1 + 3 * n
        frames.append((step, blocks))
    return frames


def test_frames_equal_the_cpp_reader_bit_for_bit(demo_movie, tmp_path):
    dump = tmp_path / "frames.f64"
    subprocess.run([os.environ["TAVO_FRAME_DUMP"], DEMO_SETUP, demo_movie, str(dump)], check=True)
    m = tavo.Movie(DEMO_SETUP, demo_movie)
    expected = read_dump(dump, len(m.species))
    assert len(m) == len(expected) == 300
    for k, frame in enumerate(m):
        step, blocks = expected[k]
        assert (frame.index, frame.step, frame.time) == (k, step, m.times[k])
        for s, name in enumerate(m.species):
            # Compared as bit patterns: -0.0 and 0.0, or two NaNs, must match too.
            assert frame.positions(name).view(np.uint64).tobytes() == blocks[s].view(np.uint64).tobytes()
        assert frame.counts.tolist() == m.counts[k].tolist() == [len(b) for b in blocks]


def population_from_simulator(movie):
    with open(os.path.join(SOURCE_DIR, "examples", "demo.population")) as table:
        return [line.split() for line in table][1:]


def population_from_command(movie):
    cli = os.environ.get("TAVO_CLI")
    if not cli:
        pytest.skip("the tavo command is not built")
    out = subprocess.run([cli, "population", DEMO_SETUP, movie], check=True,
                         capture_output=True, text=True).stdout
    return [line.split() for line in out.splitlines() if line.strip()][1:]


@pytest.mark.parametrize("source", [population_from_simulator, population_from_command])
def test_counts_equal_the_population_table(demo_movie, source):
    table = np.array(source(demo_movie), dtype=np.int64)
    m = tavo.Movie(DEMO_SETUP, demo_movie)
    assert np.array_equal(table[:, 0], m.steps)
    assert np.array_equal(table[:, 1:], m.counts)


@pytest.mark.parametrize("pick", [
    np.s_[::10], np.s_[-5:], np.s_[::-1], np.s_[5:2], np.s_[-1:-4:-1], np.s_[290:1000],
    np.s_[7::-3], np.s_[-1000:3]])
def test_slices_pick_what_python_picks(demo_movie, pick):
    m = tavo.Movie(DEMO_SETUP, demo_movie)
    every = np.arange(len(m))
    chosen = m[pick]
    assert chosen.indices.tolist() == every[pick].tolist()
    assert np.array_equal(chosen.steps, m.steps[pick]) and np.array_equal(chosen.counts, m.counts[pick])
    assert np.array_equal(chosen.times, m.times[pick])
    assert [f.index for f in chosen] == every[pick].tolist()
    # A slice of a slice, and negative indices into it.
    assert chosen[::2].indices.tolist() == every[pick][::2].tolist()
    if len(chosen):
        assert (chosen[-1].index, chosen[0].index) == (every[pick][-1], every[pick][0])


@pytest.mark.parametrize("k, index", [(0, 0), (-1, 299), (-300, 0), (299, 299), (np.int64(-2), 298)])
def test_negative_indices_count_from_the_end(demo_movie, k, index):
    assert tavo.Movie(DEMO_SETUP, demo_movie)[k].index == index


@pytest.mark.parametrize("k", [300, -301, 10**12])
def test_indices_past_either_end_raise_index_error(demo_movie, k):
    m = tavo.Movie(DEMO_SETUP, demo_movie)
    with pytest.raises(IndexError):
        m[k]
    with pytest.raises(IndexError):
        m[::2][k // 2]


def test_positions_are_read_only_views_that_outlive_the_frame(demo_movie):
    m = tavo.Movie(DEMO_SETUP, demo_movie)
    frame = m[40]
    first, again = frame.positions("S"), frame.positions(0)
    assert np.shares_memory(first, again) and first.base is frame
    assert first.shape == (frame.counts[0], 3) and first.dtype == np.float64
    with pytest.raises(ValueError):
        first[0, 0] = 1.0
    kept = first.copy()
    del frame, again
    gc.collect()
    later = [m[k].positions("S") for k in range(41, 45)]  # would reuse a freed frame's memory
    assert np.array_equal(first, kept) and not any(np.shares_memory(first, x) for x in later)


ONE = frame_text(0, [np.ones((1, 3))])


# Each row: the setup's text and the movie's (None: no such file), what is done
# with the Movie, and the file the message must name.
@pytest.mark.parametrize("setup, movie, use, named", [
    pytest.param(None, ONE, len, "s.Tavosetup", id="a missing setup"),
    pytest.param("N_species x\n", ONE, len, "s.Tavosetup", id="a malformed setup"),
    pytest.param(setup_text([("A", 2)]), None, len, "m.Tavomovie", id="a missing movie"),
    pytest.param(setup_text([("A", 2)]), "stop 0\nspecie 0\nalive 0\n\n", len, "m.Tavomovie",
                 id="a frame not starting with step"),
    pytest.param(setup_text([("A", 2)]), "step 0\nspecie 1\nalive 0\n\n", len, "m.Tavomovie",
                 id="species out of order"),
    pytest.param(setup_text([("A", 2)]), "step 0\nspecie 0\nalive 3\n" + "0 0 0 " * 3 + "\n", len,
                 "m.Tavomovie", id="more molecules than slots"),
    pytest.param(setup_text([("A", 2)]), ONE + ONE.replace("1.000000E+00", "x", 1),
                 lambda m: m[1].positions(0), "m.Tavomovie", id="a coordinate that is no number"),
    pytest.param(setup_text([("A", 2)]), ONE, lambda m: m[0].positions("B"), "s.Tavosetup",
                 id="an unknown species name"),
    pytest.param(setup_text([("A", 2)]), ONE, lambda m: m[0].positions(1), "s.Tavosetup",
                 id="a species ID past the last"),
])
def test_errors_raise_value_errors_naming_the_file_and_the_module_goes_on(tmp_path, write, setup, movie,
                                                                         use, named):
    paths = [write(name, text) if text is not None else str(tmp_path / name)
             for name, text in (("s.Tavosetup", setup), ("m.Tavomovie", movie))]
    with pytest.raises(tavo.Error, match=named) as caught:
        use(tavo.Movie(*paths))
    assert isinstance(caught.value, ValueError)
    # The module still reads after the failure.
    assert len(tavo.Movie(write("ok.Tavosetup", setup_text([("A", 1)])), write("ok.Tavomovie", ONE))) == 1


def test_movies_of_different_setups_read_at_once_from_threads(write):
    rng = np.random.default_rng(7)
    layouts = {"one": [("A", 4)], "three": [("X", 2), ("Y", 50), ("Z", 9)]}
    movies, written = {}, {}
    for name, species in layouts.items():
        frames = random_frames(rng, [slots for _, slots in species], 12)
        setup = write(name + ".Tavosetup", setup_text(species))
        movies[name] = tavo.Movie(setup, write(name + ".Tavomovie", "".join(frame_text(*f) for f in frames)))
        written[name] = frames
    results, failures = [], []

    def read_all(name):
        try:
            results.append((name, [[f.positions(s) for s in range(len(f.species))] for f in movies[name]]))
        except Exception as e:  # reported below, in the test's own thread
            failures.append(e)

    threads = [threading.Thread(target=read_all, args=(name,)) for name in movies for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures and len(results) == len(threads)
    for name, read in results:
        assert movies[name].species == [n for n, _ in layouts[name]]
        assert movies[name].steps.tolist() == [step for step, _ in written[name]]
        for got, (_, blocks) in zip(read, written[name], strict=True):
            assert all(np.array_equal(g, as_written(b)) for g, b in zip(got, blocks, strict=True))


def test_growing_file_shows_new_frames_after_refresh(write):
    rng = np.random.default_rng(3)
    frames = [frame_text(*f) for f in random_frames(rng, [5, 7], 4)]
    path = write("grow.Tavomovie", frames[0] + frames[1][:25])  # the second frame half written
    m = tavo.Movie(write("grow.Tavosetup", setup_text([("A", 5), ("B", 7)])), path)
    assert (len(m), m.refresh()) == (1, 0)
    with open(path, "a") as f:
        f.write(frames[1][25:] + frames[2])
    assert (m.refresh(), len(m), m.steps.tolist()) == (2, 3, [0, 3, 6])
    assert m[-1].counts.tolist() == m.counts[2].tolist()
    with open(path, "a") as f:
        f.write(frames[3].replace("specie 1", "specie 0"))
    with pytest.raises(tavo.Error, match="grow.Tavomovie"):
        m.refresh()
    assert len(m) == 3 and m[2].step == 6


def test_runs_of_a_movie_appended_to_and_a_file_changed_under_it(write, tmp_path):
    rng = np.random.default_rng(5)
    frames = [frame_text(*f) for f in random_frames(rng, [3], 3)]
    setup = write("runs.Tavosetup", setup_text([("A", 3)]))
    path = write("runs.Tavomovie", "".join(frames) * 2)  # a simulation run twice
    m, other = tavo.Movie(setup, path), tavo.Movie(setup, path)
    assert [tuple(r) for r in m.runs] == [(0, 3, 0, 6), (3, 3, 0, 6)]
    assert m.runs[1].first_frame == 3 and len(m) == 6
    # The same movie gzipped, under a name that does not say so.
    with open(path, "rb") as f, open(tmp_path / "packed.bin", "wb") as g:
        g.write(gzip.compress(f.read()))
    packed = tavo.Movie(setup, tmp_path / "packed.bin")
    assert (packed.runs, packed.counts.tolist()) == (m.runs, m.counts.tolist())
    assert all(np.array_equal(a.positions(0), b.positions(0)) for a, b in zip(m, packed, strict=True))
    write("runs.Tavomovie", frames[0])
    with pytest.raises(tavo.Error, match="shrank"):
        m.refresh()
    os.replace(write("other.Tavomovie", "".join(frames) * 3), path)
    with pytest.raises(tavo.Error, match="replaced"):
        other.refresh()
