"""Exports as the programs people use read them (ASE, MDAnalysis, h5py, VTK),
outputs that never destroy data, and the messages of common mistakes. Run by
CTest with TAVO and TAVO_SOURCE_DIR set."""
import math, os, signal, stat, subprocess, time, warnings

import numpy as np
import pytest

from commands_test import (SMALL_FRAMES, SMALL_SETUP, TAVO, demo, demo_frames, digest,  # noqa: F401
                           movie_text, read_movie, small, tavo)

warnings.simplefilter("ignore")  # the readers' own deprecations
HAS_RENDER = tavo("help", "render").returncode == 0
needs_render = pytest.mark.skipif(not HAS_RENDER, reason="tavo render is not built")
HAS_H5MD = b"without libhdf5" not in tavo("export", "-", "-", "-o", "x.h5").stderr
needs_h5md = pytest.mark.skipif(not HAS_H5MD, reason="tavo was built without libhdf5")
DEMO_SLOTS = [1500, 300, 300, 1500]


def padded(frame, slots, scale=1.0):
    """A movie frame in the slot layout: live molecules, then NaN rows."""
    rows = []
    for s, xyz in enumerate(frame[1]):
        rows += [[v * scale for v in xyz[k:k + 3]] for k in range(0, len(xyz), 3)]
        rows += [[math.nan] * 3] * (slots[s] - len(xyz) // 3)
    return np.array(rows)


def export(folder, *args):
    result = tavo("export", "demo.Tavosetup", "demo.Tavomovie", *args, cwd=folder)
    assert result.returncode == 0, result.stderr
    return folder / args[args.index("-o") + 1]


# -- The readers ---------------------------------------------------------------

def test_ase_reads_every_frame_with_element_symbols(demo, demo_frames):
    import ase.io
    frames = ase.io.read(export(demo, "-o", "ase.xyz", "--element", "E=Fe"), ":")
    assert len(frames) == 300
    assert set(frames[-1].get_chemical_symbols()) == {"S", "Fe", "X", "P"}  # ES is no element
    for atoms, frame in zip(frames, demo_frames):
        assert np.array_equal(atoms.positions, [xyz[k:k + 3] for xyz in frame[1]
                                                for k in range(0, len(xyz), 3)])


@needs_h5md
def test_mdanalysis_reads_every_frame_of_padded_xyz_and_h5md(demo, demo_frames):
    import MDAnalysis as mda
    xyz = export(demo, "-o", "pad.xyz", "--pad", "--scale", "1e9")
    h5md = export(demo, "-o", "run.h5md", "--scale", "1e9")
    both = [mda.Universe(str(xyz)), mda.Universe(str(xyz), str(h5md))]
    assert [len(u.trajectory) for u in both] == [300, 300]
    for k, frame in enumerate(demo_frames):
        nm = padded(frame, DEMO_SLOTS, 1e9).astype(np.float32)
        np.testing.assert_array_equal(both[0].trajectory[k].positions, nm)
        # MDAnalysis gives angstroms: the nanometres times 10, in float32.
        np.testing.assert_array_equal(both[1].trajectory[k].positions, nm * np.float32(10))


@needs_h5md
def test_h5md_layout_in_h5py(demo, demo_frames):
    import h5py
    f = h5py.File(export(demo, "-o", "run.h5", "--frames", "::7"), "r")
    frames = demo_frames[::7]
    part, value = f["particles/all"], f["particles/all/position/value"]
    table = [list(map(int, line.split()[1:]))
             for line in open(os.path.join(os.environ["TAVO_SOURCE_DIR"], "examples",
                                           "demo.population")).readlines()[1::7]]
    assert (part["box"].attrs["dimension"], list(part["box"].attrs["boundary"])) == \
        (3, ["none"] * 3)
    assert (list(f["h5md"].attrs["version"]), f["h5md/creator"].attrs["name"]) == ([1, 1], "tavo")
    assert (value.shape, value.dtype, value.chunks, value.compression) == \
        ((len(frames), 3600, 3), np.float64, (1, 3600, 3), "gzip")
    assert (value.attrs["unit"], part["position/time"].attrs["unit"]) == ("m", "s")
    np.testing.assert_array_equal(value[:], [padded(fr, DEMO_SLOTS) for fr in frames])
    assert part["position/step"][:].tolist() == [fr[0] for fr in frames]
    assert part["position/time"][:].tolist() == [fr[0] * 1e-4 for fr in frames]
    assert part["species"][:].tolist() == [s for s in range(4) for _ in range(DEMO_SLOTS[s])]
    assert part["alive"]["value"][:].tolist() == np.isfinite(value[:, :, 0]).astype(int).tolist()
    assert f["observables/counts/value"][:].tolist() == table
    assert f["observables/counts/step"] == part["position/step"]  # the same dataset, linked
    assert [n.decode() for n in f["parameters/species/name"][:]] == ["S", "E", "ES", "P"]
    assert f["parameters"].attrs["time_step"] == 1e-4


def test_vtk_frames_name_their_species(demo):
    import vtk
    export(demo, "-o", "named.pvd", "--frames", "-1")
    reader = vtk.vtkXMLPolyDataReader()
    reader.SetFileName(str(demo / "named" / "frame_000299.vtp"))
    reader.Update()
    names = reader.GetOutput().GetFieldData().GetAbstractArray("species_names")
    assert [names.GetValue(i) for i in range(names.GetNumberOfValues())] == ["S", "E", "ES", "P"]


@pytest.mark.parametrize("output,fmt,magic", [("a.xyz", [], b"4\n"), ("a.pvd", [], b"<?xml"),
                                              ("a.h5", [], b"\x89HDF"), ("a.h5md", [], b"\x89HDF"),
                                              ("a.h5", ["-f", "xyz"], b"4\n")])
def test_the_format_follows_the_extension_unless_given(small, output, fmt, magic):
    if magic == b"\x89HDF" and not HAS_H5MD:
        pytest.skip("tavo was built without libhdf5")
    assert tavo("export", "s.Tavosetup", "m.Tavomovie", "-o", output, *fmt,
                cwd=small).returncode == 0
    assert (small / output).read_bytes().startswith(magic)


# -- Outputs that never destroy data -------------------------------------------

def sh(folder, line):
    """Runs a shell line in `folder` with $T the tavo program, $E an export
    of the small movie without its output."""
    env = dict(os.environ, T=TAVO, E=TAVO + " export s.Tavosetup m.Tavomovie -q")
    return subprocess.run(["/bin/sh", "-c", line], cwd=folder, env=env, capture_output=True)


def only_xyz(folder):
    return (folder / "ref.xyz").read_bytes()


STREAMS = [  # shell line, then what the file `log` must hold
    ("echo KEEP > log; $E -f xyz -o /dev/stdout >> log", lambda d: b"KEEP\n" + only_xyz(d)),
    ("echo KEEP > log; $E -f xyz -o /dev/fd/3 3>> log", lambda d: b"KEEP\n" + only_xyz(d)),
    ("$E -f xyz -o /dev/stdout | cat > log", only_xyz),
    ("echo KEEP > log; $T population -q s.Tavosetup m.Tavomovie -o /dev/stderr 2>> log",
     lambda d: b"KEEP\n" + tavo("population", "s.Tavosetup", "m.Tavomovie", cwd=d).stdout),
    ("$E -f h5md -o /dev/stdout | cat > log; $E -o log.h5", lambda d: (d / "log.h5").read_bytes()),
]


@pytest.mark.parametrize("line,expected", STREAMS, ids=[s[0] for s in STREAMS])
def test_streams_are_written_in_place(small, line, expected):
    if "h5md" in line and not HAS_H5MD:
        pytest.skip("tavo was built without libhdf5")
    assert tavo("export", "s.Tavosetup", "m.Tavomovie", "-o", "ref.xyz", cwd=small).returncode == 0
    assert sh(small, line).returncode == 0
    assert (small / "log").read_bytes() == expected(small)


LINKS = [  # shell line that must fail or pass without touching the movie or "precious"
    "$E -f xyz -o /dev/stdout >> m.Tavomovie",
    "$E -o run.pvd --frames 0:2 && ln -sf ../precious run/frame_000001.vtp && $E -o run.pvd",
    "mkdir f && ln -s ../precious f/p00001.png && $T render -q s.Tavosetup m.Tavomovie "
    "--size 64x48 -o f/p%05d.png",
    "mkdir f && ln m.Tavomovie f/p00001.png; $T render -q s.Tavosetup m.Tavomovie "
    "--size 64x48 -o f/p%05d.png",
]


@pytest.mark.parametrize("line", LINKS)
def test_no_output_replaces_an_input_or_writes_through_a_link(small, line):
    if "render" in line and not HAS_RENDER:
        pytest.skip("tavo render is not built")
    (small / "precious").write_text("precious")
    before = digest(small / "m.Tavomovie")
    sh(small, line)
    assert (digest(small / "m.Tavomovie"), (small / "precious").read_text()) == \
        (before, "precious")


@needs_render
@pytest.mark.parametrize("output", ["keep.png", "keep.mp4"])
def test_render_keeps_an_outputs_permissions(small, output):
    (small / output).write_text("old")
    os.chmod(small / output, 0o640)
    assert tavo("render", "s.Tavosetup", "m.Tavomovie", "--size", "64x48", "-o", output,
                cwd=small).returncode == 0
    assert stat.S_IMODE(os.stat(small / output).st_mode) == 0o640


def big_movie(folder, frames=200, molecules=5000):
    """A movie slow enough to interrupt: one frame's molecules, many times."""
    rng = np.random.default_rng(1)
    (folder / "big.Tavosetup").write_text(SMALL_SETUP.replace(" 10 3 0", " %d 3 0" % molecules))
    body = movie_text([(0, [list(rng.uniform(-1e-6, 1e-6, 3 * molecules)), []])])
    (folder / "big.Tavomovie").write_text("".join(body.replace("step 0", "step %d" % k, 1)
                                                  for k in range(frames)))


INTERRUPTS = [  # command, the name that shows it is under way, signal
    (["export", "-o", "out/v.pvd"], "out/v", signal.SIGINT),
    (["export", "-o", "out/v.pvd"], "out/v", signal.SIGHUP),
    (["render", "--size", "2000x2000", "-o", "out/p.png"], "out/.p.png.tmp", signal.SIGTERM),
    (["render", "--size", "96x64", "-o", "out/f/%04d.png"], "out/f", signal.SIGINT),
    (["render", "--size", "96x64", "-o", "out/v.mp4"], "out/.v.mp4.tmp", signal.SIGHUP),
]


@pytest.mark.parametrize("args,started,sig", INTERRUPTS,
                         ids=["%s %s" % (a[-1], signal.Signals(s).name) for a, _, s in INTERRUPTS])
def test_an_interrupt_leaves_no_temporaries_logs_or_empty_folders(small, args, started, sig):
    if args[0] == "render" and not HAS_RENDER:
        pytest.skip("tavo render is not built")
    big_movie(small)
    os.mkdir(small / "out")
    (small / "bin").mkdir()
    (small / "bin" / "ffmpeg").write_text("#!/bin/sh\nexec sleep 60\n")  # takes no frame
    os.chmod(small / "bin" / "ffmpeg", 0o755)
    env = dict(os.environ, PATH="%s:%s" % (small / "bin", os.environ["PATH"]))
    process = subprocess.Popen([TAVO, args[0], "big.Tavosetup", "big.Tavomovie", *args[1:]],
                               cwd=small, env=env, stderr=subprocess.DEVNULL,
                               preexec_fn=lambda: [signal.signal(s, signal.SIG_DFL) for s in
                                                   (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)])
    folder, prefix = os.path.split(small / started)
    while not any(n.startswith(prefix) for n in os.listdir(folder)):
        assert process.poll() is None, "finished before it could be interrupted"
        time.sleep(0.001)
    process.send_signal(sig)
    assert process.wait(timeout=60) == -sig
    left = [os.path.join(d, n) for d, ds, fs in os.walk(small / "out") for n in ds + fs
            if ".tmp" in n or (n in ds and not os.listdir(os.path.join(d, n)))]
    assert (left, sh(small, "pgrep -f 'sleep 60' -P %d" % process.pid).stdout) == ([], b"")


# -- Messages ------------------------------------------------------------------

MESSAGES = [  # command line after the command's SETUP MOVIE, exit status, what it says
    (["export", "-o", "x.xyz", "--scale", "nan"], 2, "--scale: nan is not a number"),
    (["export", "-o", "x.xyz", "--scale", "-inf"], 2, "--scale: -inf is not a finite number"),
    (["export", "-o", "x.xyz", "--scale", "1e999"], 2, "--scale: 1e999 is beyond the range"),
    (["export", "-o", "x.xyz", "--scale", "0"], 2, "--scale: 0 would put every molecule"),
    (["export", "-o", "x.dat"], 2, "--format: the output x.dat ends in none of"),
    (["export", "-o", "x.pvd", "--pad"], 2, "--pad: pads xyz exports only"),
    (["export", "-o", "x.xyz", "--element", "A"], 2, "--element: A is not NAME=SYMBOL"),
    (["export", "-o", "x.xyz", "--element", "A=Qq"], 2, "Qq is not an element symbol"),
    (["export", "-o", "x.xyz", "--element", "Z=Fe"], 2, "the setup has no species Z"),
    (["render", "-o", "x.mp4", "--fps", "nan"], 2, "--fps: nan is not a number"),
    (["render", "-o", "x.mp4", "--fps", "inf"], 2, "--fps: inf is not a finite number"),
    (["render", "-o", "x.mp4", "--fps", "1e6"], 2, "--fps: 1e6 is out of range: a number from"),
    (["render", "-o", "x.png", "--sphere-scale", "nan"], 2, "--sphere-scale: nan is not"),
    (["render", "-o", "x.png", "--sphere-scale", "0"], 2, "--sphere-scale: 0 is out of range"),
    (["render", "-o", "x.png", "--camera", "1,1,1e300"], 2, "--camera: 1,1,1e300: each of"),
    (["render", "-o", "x.png", "--camera", "nan,1,1"], 2, "--camera: nan,1,1: each of"),
    (["render", "-o", "x.mp4", "--size", "65x47"], 2, "must be even; take 64x46 or 66x48"),
    (["render", "-o", "none/x.png"], 1, "none/x.png: folder none does not exist"),
    (["render", "-o", "none/x.mp4"], 1, "none/x.mp4: folder none does not exist"),
    (["render", "-o", "x.png", "--regions", "none.regions"], 1, "none.regions: cannot open"),
    (["info", "SWAP"], 1, "m.Tavomovie looks like a movie; the setup file comes first"),
    (["population", "ONE"], 1, "m.Tavomovie: the movie has 2 species, the setup 1"),
    (["export", "-o", "x.xyz"], 0, "tavo: wrote x.xyz (4 frames, "),
]


@pytest.mark.parametrize("args,status,says", MESSAGES, ids=[" ".join(m[0]) for m in MESSAGES])
def test_messages_say_what_is_wrong(small, args, status, says):
    if args[0] == "render" and not HAS_RENDER:
        pytest.skip("tavo render is not built")
    (small / "one.Tavosetup").write_text(SMALL_SETUP.replace("N_species 2", "N_species 1")
                                         .replace("specie B 1 1.0 2.5e-9 1.0e-10 10 2 0\n", ""))
    files = {"SWAP": ["m.Tavomovie", "s.Tavosetup"], "ONE": ["one.Tavosetup", "m.Tavomovie"]}
    rest = [a for a in args[1:] if a not in files]
    extra = files.get(args[-1], ["s.Tavosetup", "m.Tavomovie"])
    result = tavo(args[0], *extra, *rest, cwd=small)
    first = result.stderr.decode().splitlines()[0]
    option = says.split(":")[0]
    assert (result.returncode, says in first, first.count(option)) == (status, True, 1), first
