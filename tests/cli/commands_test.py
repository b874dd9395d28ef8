"""The tavo command as a user runs it: exit statuses, messages and outputs.
Run by CTest with TAVO and TAVO_SOURCE_DIR set; VTK files are read back with
VTK's own readers (python3-vtk9)."""
import gzip, hashlib, json, os, pty, re, shutil, subprocess
from decimal import Decimal

import pytest

TAVO = os.environ["TAVO"]
SOURCE = os.environ["TAVO_SOURCE_DIR"]


def tavo(*args, cwd=None, stderr=subprocess.PIPE):
    return subprocess.run([TAVO, *map(str, args)], cwd=cwd, stdout=subprocess.PIPE,
                          stderr=stderr, timeout=300)


def digest(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()


def read_movie(path, species):
    """Frames of a movie as (step, [per species: list of floats], end byte)."""
    data = open(path, "rb").read()
    tokens = [(m.group(), m.end()) for m in re.finditer(rb"\S+", data)]
    frames, i = [], 0
    while i < len(tokens):
        step, coords, i = int(tokens[i + 1][0]), [], i + 2
        for _ in range(species):
            n, i = int(tokens[i + 3][0]), i + 4
            coords.append([float(t) for t, _ in tokens[i:i + 3 * n]])
            i += 3 * n
        frames.append((step, coords, data.index(b"\n", tokens[i - 1][1]) + 1))
    return frames


SMALL_SETUP = """N_species 2
specie A 0 1.0 1.0e-9 1.0e-10 10 3 0
specie B 1 1.0 2.5e-9 1.0e-10 10 2 0
N_fwd 0 ;
N_rev 0 ;
rev_max_mol 1 ;
temperature(K) 300.0
viscosity 1.0
pH 7.0
total_step 10
time_step(s) 1.0e-6
"""


def movie_text(frames):
    """Movie text as the simulator writes it; frames: (step, [coords per species])."""
    return "".join("step %d\n" % step + "".join(
        "specie %d\nalive %d\n" % (s, len(xyz) // 3) + "".join("%E " % v for v in xyz) + "\n"
        for s, xyz in enumerate(species)) for step, species in frames)


SMALL_FRAMES = [
    (0, [[1e-7, -2e-7, 3.5e-7, 4e-8, 5e-8, -6e-8, 0.0, 0.0, 1e-9], [7e-7, 8e-7, 9e-7]]),
    (1, [[1.5e-7, -2e-7, 3.5e-7], [7e-7, 8e-7, 9e-7, -1e-6, 2e-6, 3e-6]]),
    (2, [[], [1.234567e-7, 2e-7, 3e-7]]),
    (3, [[1e-7, 1e-7, 1e-7, 2e-7, 2e-7, 2e-7], []]),
]


@pytest.fixture(scope="session")
def demo(tmp_path_factory):
    folder = tmp_path_factory.mktemp("demo")
    with gzip.open(os.path.join(SOURCE, "examples", "demo.Tavomovie.gz"), "rb") as src, \
            open(folder / "demo.Tavomovie", "wb") as dst:
        shutil.copyfileobj(src, dst)
    shutil.copy(os.path.join(SOURCE, "examples", "demo.Tavosetup"), folder)
    return folder


@pytest.fixture(scope="session")
def demo_frames(demo):
    return read_movie(demo / "demo.Tavomovie", 4)


@pytest.fixture
def small(tmp_path):
    (tmp_path / "s.Tavosetup").write_text(SMALL_SETUP)
    (tmp_path / "m.Tavomovie").write_text(movie_text(SMALL_FRAMES))
    return tmp_path


DEMO_NAMES = ["S", "E", "ES", "P"]
DEMO_SIZES = [4.0e-9, 8.0e-9, 9.0e-9, 4.0e-9]


def test_population_equals_the_demo_table(demo):
    result = tavo("population", "demo.Tavosetup", "demo.Tavomovie", cwd=demo)
    assert result.returncode == 0, result.stderr
    assert result.stdout == open(os.path.join(SOURCE, "examples", "demo.population"), "rb").read()


def test_info_json_on_the_demo(demo):
    result = tavo("info", "--json", "demo.Tavosetup", "demo.Tavomovie", cwd=demo)
    assert result.returncode == 0, result.stderr
    info = json.loads(result.stdout)
    assert list(info) == ["frames", "first_step", "last_step", "time_step", "bytes",
                          "partial_bytes", "runs", "species", "format", "file_bytes"]
    table = open(os.path.join(SOURCE, "examples", "demo.population")).readlines()
    rows = [[int(v) for v in line.split()] for line in table[1:]]
    species = [{"id": s, "name": DEMO_NAMES[s], "first": rows[0][s + 1],
                "min": min(r[s + 1] for r in rows), "max": max(r[s + 1] for r in rows),
                "last": rows[-1][s + 1]} for s in range(4)]
    assert info == {"frames": 300, "first_step": 0, "last_step": 299, "time_step": 1e-4,
                    "bytes": os.path.getsize(demo / "demo.Tavomovie"), "partial_bytes": 0,
                    "runs": [{"first_frame": 0, "frames": 300, "first_step": 0, "last_step": 299}],
                    "species": species, "format": "plain",
                    "file_bytes": os.path.getsize(demo / "demo.Tavomovie")}


def test_info_text_and_check_on_the_demo(demo):
    result = tavo("info", "--check", "demo.Tavosetup", "demo.Tavomovie", cwd=demo)
    assert result.returncode == 0, result.stderr
    text = result.stdout.decode()
    assert re.search(r"^frames\s+300$", text, re.M)
    assert re.search(r"^steps\s+0 to 299$", text, re.M)
    assert re.search(r"^ES\s+2\s+0\s+0\s+177\s+107$", text, re.M)


def test_json_names_stay_valid_json(tmp_path):
    setup = SMALL_SETUP.replace("specie B ", 'specie B"\\\x01\xe9\xff ')
    (tmp_path / "s.Tavosetup").write_bytes(setup.encode("latin-1"))
    (tmp_path / "m.Tavomovie").write_text(movie_text(SMALL_FRAMES))
    result = tavo("info", "--json", "s.Tavosetup", "m.Tavomovie", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert json.loads(result.stdout)["species"][1]["name"] == 'B"\\\x01\ufffd\ufffd'


def test_a_movie_without_frames(small):
    (small / "m.Tavomovie").write_text("")
    info = json.loads(tavo("info", "--json", "s.Tavosetup", "m.Tavomovie", cwd=small).stdout)
    assert (info["frames"], info["first_step"], info["species"][0]["min"]) == (0, None, None)
    table = tavo("population", "s.Tavosetup", "m.Tavomovie", cwd=small).stdout
    assert table == b"step:\tA\tB\t\n"


# Where a movie is cut: inside a coordinate, inside the "step" of the next
# frame, before the last line break of a frame.
CUTS = [("in a coordinate", lambda text, ends: ends[2] + 40),
        ("in the next step word", lambda text, ends: ends[1] + 2),
        ("before a frame's last line break", lambda text, ends: ends[3] - 1)]


@pytest.mark.parametrize("where,cut", CUTS, ids=[c[0] for c in CUTS])
def test_a_movie_cut_short_counts_its_complete_frames(small, where, cut):
    full = (small / "m.Tavomovie").read_bytes()
    ends = [f[2] for f in read_movie(small / "m.Tavomovie", 2)]
    size = cut(full, ends)
    (small / "m.Tavomovie").write_bytes(full[:size])
    complete = sum(1 for e in ends if e <= size)
    info = json.loads(tavo("info", "--json", "--check", "s.Tavosetup", "m.Tavomovie",
                           cwd=small).stdout)
    assert (info["frames"], info["bytes"]) == (complete, size)
    assert info["partial_bytes"] == size - ends[complete - 1]
    table = tavo("population", "s.Tavosetup", "m.Tavomovie", cwd=small).stdout.decode()
    assert len(table.splitlines()) == 1 + complete
    assert tavo("export", "s.Tavosetup", "m.Tavomovie", "-f", "xyz", "-o", "out.xyz",
                cwd=small).returncode == 0
    assert (small / "out.xyz").read_text().count("Properties=") == complete


def read_xyz(path):
    """Frames of an extended XYZ file as (comment, [(name, x, y, z)]); the
    species name is the fifth column (the first holds element symbols)."""
    lines = open(path).read().splitlines()
    frames, i = [], 0
    while i < len(lines):
        n = int(lines[i])
        atoms = [(p[4], float(p[1]), float(p[2]), float(p[3]))
                 for p in (line.split() for line in lines[i + 2:i + 2 + n])]
        frames.append((lines[i + 1], atoms))
        i += 2 + n
    return frames


def expected_atoms(frame, names, scale=1.0):
    return [(names[s], xyz[k] * scale, xyz[k + 1] * scale, xyz[k + 2] * scale)
            for s, xyz in enumerate(frame[1]) for k in range(0, len(xyz), 3)]


def test_xyz_reads_back_as_the_movies_doubles(demo, demo_frames):
    result = tavo("export", "demo.Tavosetup", "demo.Tavomovie", "--format", "xyz", "--output",
                  "all.xyz", cwd=demo)
    assert result.returncode == 0, result.stderr
    xyz = read_xyz(demo / "all.xyz")
    assert len(xyz) == len(demo_frames)
    for (comment, atoms), frame in zip(xyz, demo_frames):
        step = frame[0]
        head = "Properties=species:S:1:pos:R:3:name:S:1:radius:R:1 step=%d time=" % step
        assert comment.startswith(head)
        assert float(comment[len(head):].split()[0]) == step * 1e-4
        assert atoms == expected_atoms(frame, DEMO_NAMES)


@pytest.mark.parametrize("frames,picked", [("::50", slice(None, None, 50)),
                                           ("-1", slice(-1, None)),
                                           ("-3:", slice(-3, None)),
                                           ("10:4:-3", slice(10, 4, -3)),
                                           ("400:", slice(400, None))])
@pytest.mark.parametrize("scale", [1.0, 1e9, -0.5])
def test_xyz_frames_and_scale(small, frames, picked, scale):
    result = tavo("export", "s.Tavosetup", "m.Tavomovie", "-f", "xyz", "-o", "out.xyz",
                  "--frames=" + frames, "--scale", repr(scale), cwd=small)
    assert result.returncode == 0, result.stderr
    movie = read_movie(small / "m.Tavomovie", 2)
    want = list(range(len(movie)))[picked]
    got = read_xyz(small / "out.xyz")
    assert [int(re.search(r"step=(\d+)", c).group(1)) for c, _ in got] == \
        [movie[k][0] for k in want]
    assert [a for _, a in got] == [expected_atoms(movie[k], "AB", scale) for k in want]


def read_vtk(pvd):
    """The collection (with VTK's XML parser) and each frame's PolyData."""
    import vtk
    from vtk.util.numpy_support import vtk_to_numpy
    parser = vtk.vtkXMLDataParser()
    parser.SetFileName(str(pvd))
    assert parser.Parse() == 1 and parser.GetRootElement().GetAttribute("type") == "Collection"
    collection, frames = parser.GetRootElement().GetNestedElement(0), []
    for dataset in map(collection.GetNestedElement, range(collection.GetNumberOfNestedElements())):
        reader = vtk.vtkXMLPolyDataReader()
        reader.SetFileName(os.path.join(os.path.dirname(pvd), dataset.GetAttribute("file")))
        reader.Update()
        assert reader.GetErrorCode() == 0
        poly = reader.GetOutput()
        arrays = [poly.GetPoints().GetData(), *map(poly.GetPointData().GetArray,
                                                   ["species", "radius"])]
        frames.append({"time": float(dataset.GetAttribute("timestep")),
                       "points": vtk_to_numpy(arrays[0]).ravel().tolist(),
                       "species": vtk_to_numpy(arrays[1]).tolist(),
                       "radius": vtk_to_numpy(arrays[2]).tolist(),
                       "types": [a.GetDataTypeAsString() for a in arrays],
                       "verts": poly.GetNumberOfVerts()})
    return frames


def test_vtk_opens_in_vtk_with_the_movies_points(demo, demo_frames):
    result = tavo("export", "demo.Tavosetup", "demo.Tavomovie", "--format", "vtk", "--output",
                  "demo.pvd", "--frames", "::60", cwd=demo)
    assert result.returncode == 0, result.stderr
    frames = read_vtk(demo / "demo.pvd")
    assert len(frames) == 5
    for got, frame in zip(frames, demo_frames[::60]):
        counts = [len(xyz) // 3 for xyz in frame[1]]
        assert got["time"] == float(Decimal(frame[0]) * Decimal("0.0001"))  # in decimal
        assert got["points"] == [v for xyz in frame[1] for v in xyz]
        assert got["species"] == [s for s in range(4) for _ in range(counts[s])]
        assert got["radius"] == [DEMO_SIZES[s] / 2 for s in range(4) for _ in range(counts[s])]
        assert got["types"] == ["double", "int", "double"]
        assert got["verts"] == sum(counts)


def test_vtk_scale_and_empty_frames(small):
    result = tavo("export", "s.Tavosetup", "m.Tavomovie", "-f", "vtk", "-o", "run.pvd",
                  "--scale", "1e9", cwd=small)
    assert result.returncode == 0, result.stderr
    frames = read_vtk(small / "run.pvd")
    assert [f["points"] for f in frames] == \
        [[v * 1e9 for xyz in f[1] for v in xyz] for f in SMALL_FRAMES]
    assert frames[2]["radius"] == [1.25]
    assert frames[3]["species"] == [0, 0]
    empty = tavo("export", "s.Tavosetup", "m.Tavomovie", "-f", "vtk", "-o", "none.pvd",
                 "--frames", "2:2", cwd=small)
    assert empty.returncode == 0 and read_vtk(small / "none.pvd") == []


USAGE = [
    ([], "subcommand is required"),
    (["frobnicate"], "frobnicate"),
    (["info", "s.Tavosetup"], "MOVIE is required"),
    (["info", "s.Tavosetup", "m.Tavomovie", "extra"], "extra"),
    (["export", "s.Tavosetup", "m.Tavomovie", "-f", "xyz"], "--output"),
    (["export", "s.Tavosetup", "m.Tavomovie", "-f", "pdb", "-o", "x"], "pdb"),
    (["export", "s.Tavosetup", "m.Tavomovie", "-f", "vtk", "-o", "x.vtp"], ".pvd"),
    (["export", "s.Tavosetup", "m.Tavomovie", "-f", "xyz", "-o", "x", "--frames", "1:2:0"],
     "step cannot be zero"),
    (["export", "s.Tavosetup", "m.Tavomovie", "-f", "xyz", "-o", "x", "--frames", "a:b"],
     "not an integer"),
    (["export", "s.Tavosetup", "m.Tavomovie", "-f", "xyz", "-o", "x", "--scale", "nan"],
     "--scale"),
    (["help", "frobnicate"], "frobnicate"),
]


@pytest.mark.parametrize("args,reason", USAGE, ids=[" ".join(a) or "none" for a, _ in USAGE])
def test_wrong_command_lines_exit_2_with_reason_and_usage(small, args, reason):
    result = tavo(*args, cwd=small)
    lines = result.stderr.decode().splitlines()
    assert result.returncode == 2
    assert lines[0].startswith("tavo: ") and reason in lines[0], lines
    assert lines[1].startswith("Usage: tavo")
    assert result.stdout == b""


FAILURES = [
    (["info", "missing.Tavosetup", "m.Tavomovie"], "missing.Tavosetup"),
    (["info", "s.Tavosetup", "missing.Tavomovie"], "missing.Tavomovie"),
    (["population", "m.Tavomovie", "m.Tavomovie"], "m.Tavomovie"),
    (["export", "s.Tavosetup", "m.Tavomovie", "-f", "xyz", "-o", "x", "--frames", "4"],
     "m.Tavomovie"),
    (["export", "s.Tavosetup", "m.Tavomovie", "-f", "xyz", "-o", "nofolder/x.xyz"],
     "nofolder/x.xyz"),
]


@pytest.mark.parametrize("args,named", FAILURES, ids=[" ".join(a) for a, _ in FAILURES])
def test_failures_exit_1_with_one_line_naming_the_file(small, args, named):
    result = tavo(*args, cwd=small)
    assert result.returncode == 1
    lines = result.stderr.decode().splitlines()
    assert len(lines) == 1 and lines[0].startswith("tavo: ") and named in lines[0], lines


BAD_MOVIE = movie_text(SMALL_FRAMES).replace("%E" % 1.234567e-7, "1.23x567E-07")


def test_check_stops_at_the_first_malformed_token(small):
    (small / "m.Tavomovie").write_text(BAD_MOVIE)
    assert tavo("info", "s.Tavosetup", "m.Tavomovie", cwd=small).returncode == 0
    result = tavo("info", "--check", "s.Tavosetup", "m.Tavomovie", cwd=small)
    lines = result.stderr.decode().splitlines()
    assert result.returncode == 1 and result.stdout == b""
    assert len(lines) == 1 and "m.Tavomovie" in lines[0] and "frame 2" in lines[0], lines


@pytest.mark.parametrize("fmt,output", [("xyz", "out.xyz"), ("vtk", "out.pvd")])
def test_a_failed_export_leaves_nothing_behind(small, fmt, output):
    (small / "m.Tavomovie").write_text(BAD_MOVIE)
    before = sorted(os.listdir(small))
    result = tavo("export", "s.Tavosetup", "m.Tavomovie", "-f", fmt, "-o", output, cwd=small)
    assert result.returncode == 1
    assert sorted(os.listdir(small)) == before
    # An existing output stays as it was.
    (small / output).write_text("old")
    assert tavo("export", "s.Tavosetup", "m.Tavomovie", "-f", fmt, "-o", output,
                cwd=small).returncode == 1
    assert (small / output).read_text() == "old"
    assert sorted(os.listdir(small)) == sorted(before + [output])


# Ways of naming an input as the output: its own name, another spelling, a
# hard link, a symbolic link.
ALIASES = [("same", lambda d, f: f), ("dot", lambda d, f: "./" + f),
           ("hard link", lambda d, f: os.link(d / f, d / "alias") or "alias"),
           ("symbolic link", lambda d, f: os.symlink(f, d / "alias") or "alias")]
WRITERS = [("population", lambda out: ["population", "s.Tavosetup", "m.Tavomovie", "-o", out]),
           ("xyz", lambda out: ["export", "s.Tavosetup", "m.Tavomovie", "-f", "xyz", "-o", out])]


@pytest.mark.parametrize("alias", ALIASES, ids=[a[0] for a in ALIASES])
@pytest.mark.parametrize("writer", WRITERS, ids=[w[0] for w in WRITERS])
@pytest.mark.parametrize("target", ["m.Tavomovie", "s.Tavosetup"])
def test_an_input_is_never_overwritten(small, alias, writer, target):
    sums = {f: digest(small / f) for f in ("m.Tavomovie", "s.Tavosetup")}
    out = alias[1](small, target)
    result = tavo(*writer[1](out), cwd=small)
    assert result.returncode == 1
    assert "is an input" in result.stderr.decode()
    assert {f: digest(small / f) for f in sums} == sums


def test_vtk_refuses_its_inputs_as_outputs_or_in_its_folder(small):
    os.mkdir(small / "run")
    shutil.move(small / "m.Tavomovie", small / "run" / "m.Tavomovie")
    os.symlink("run/m.Tavomovie", small / "movie.pvd")
    sums = digest(small / "run" / "m.Tavomovie")
    for output in ["run.pvd", "./run.pvd", "movie.pvd", "run/m.Tavomovie.pvd/../../run.pvd"]:
        result = tavo("export", "s.Tavosetup", "run/m.Tavomovie", "-f", "vtk", "-o", output,
                      cwd=small)
        assert result.returncode == 1, output
    assert sorted(os.listdir(small / "run")) == ["m.Tavomovie"]
    assert digest(small / "run" / "m.Tavomovie") == sums
    # The collection itself inside its frame folder (through a link).
    os.mkdir(small / "work")
    os.symlink(".", small / "work" / "here")
    result = tavo("export", "../s.Tavosetup", "../run/m.Tavomovie", "-f", "vtk", "-o",
                  "here.pvd", cwd=small / "work")
    assert result.returncode == 1 and "inside" in result.stderr.decode()


@pytest.mark.parametrize("command", ["info", "export", "population", "help"])
def test_help_command_equals_command_help(command):
    via_help = tavo("help", command)
    direct = tavo(command, "--help")
    assert via_help.returncode == direct.returncode == 0
    assert via_help.stdout == direct.stdout
    assert ("Usage: tavo %s" % command).encode() in direct.stdout


def test_main_help_and_version():
    for args in (["--help"], ["help"], ["-h"]):
        result = tavo(*args)
        assert result.returncode == 0
        for command in (b"info", b"export", b"population"):
            assert command in result.stdout
    version = tavo("--version")
    assert version.returncode == 0 and re.match(rb"tavo \d+\.\d+\.\d+\n$", version.stdout)


def stderr_on_a_terminal(args, cwd):
    """Runs tavo with standard error on a pseudo-terminal; returns what it showed."""
    master, slave = pty.openpty()
    process = subprocess.Popen([TAVO, *args], cwd=cwd, stdout=subprocess.DEVNULL, stderr=slave)
    os.close(slave)
    shown, chunk = b"", b"-"
    while chunk:
        try:
            chunk = os.read(master, 4096)
        except OSError:  # the terminal closed
            chunk = b""
        shown += chunk
    os.close(master)
    assert process.wait(timeout=300) == 0
    return shown


def test_progress_bar_only_on_a_terminal_and_not_when_quiet(demo):
    args = ["export", "demo.Tavosetup", "demo.Tavomovie", "-f", "xyz", "-o", "bar.xyz"]
    shown = stderr_on_a_terminal(args, demo)
    assert b"indexing demo.Tavomovie" in shown and b"100%" in shown
    assert shown.endswith(b"\r\x1b[K")  # the bar is erased at the end
    assert stderr_on_a_terminal(args + ["--quiet"], demo) == b""
    assert stderr_on_a_terminal(["-q"] + args, demo) == b""
    # Off a terminal: one closing line.
    assert tavo(*args, cwd=demo).stderr.startswith(b"tavo: wrote bar.xyz (300 frames, ")
