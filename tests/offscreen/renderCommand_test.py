"""tavo render as a user meets it: no display, exit statuses, messages, and
the files it leaves. Run by CTest with TAVO naming the tavo program."""
import math
import os
import shutil
import struct
import subprocess

import pytest

TAVO = os.environ.get("TAVO", "tavo")

SETUP = """N_species 2
specie A 0 1.0 1.0e-7 1.0e-12 3 3 0
specie B 1 1.0 2.0e-7 1.0e-12 3 3 0
N_fwd 0 ;
N_rev 0 ;
rev_max_mol 0 ;
temperature(K) 300.0
viscosity 1.0
pH 7.0
total_step 6
time_step(s) 1.0e-6
"""


def frame(k, last="1E-6"):
    return (f"step {k}\nspecie 0\nalive 3\n1E-6 0 0 0 1E-6 0 0 0 {last} \n"
            f"specie 1\nalive 1\n{0.1 * k}E-6 0 0 \n")


@pytest.fixture
def run(tmp_path):
    """Writes the setup and a six-frame movie; returns a runner of tavo
    render in tmp_path with no DISPLAY."""
    (tmp_path / "s.Tavosetup").write_text(SETUP)
    (tmp_path / "m.Tavomovie").write_text("".join(frame(k) for k in range(6)))

    def render(*args, env=None):
        environment = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        environment.update(env or {})
        return subprocess.run([TAVO, "render", "s.Tavosetup", "m.Tavomovie", *args],
                              cwd=tmp_path, env=environment, capture_output=True, text=True,
                              timeout=120)
    return render


def png_size(path):
    with open(path, "rb") as f:
        header = f.read(24)
    assert header[:8] == b"\x89PNG\r\n\x1a\n"
    return struct.unpack(">II", header[16:24])


def leftovers(folder):
    return sorted(p.name for p in folder.iterdir() if ".part" in p.name)


@pytest.mark.parametrize("size", ["0x10", "10x0", "-5x5", "10x-5", "20000x10", "10x99999",
                                  "500", "axb"])
def test_sizes_it_cannot_draw_are_refused(run, tmp_path, size):
    result = run("--output", "out.png", "--size", size)
    assert result.returncode == 2, result.stderr
    assert "--size" in result.stderr
    assert not (tmp_path / "out.png").exists()


def test_pictures_and_sequences_without_a_display(run, tmp_path):
    assert run("--output", "one.png").returncode == 0
    assert png_size(tmp_path / "one.png") == (500, 500)
    # Two batches of one sequence, as separate jobs would render them.
    os.mkdir(tmp_path / "seq")
    for frames in ["0:3", "3:"]:
        result = run("--output", "seq/f%05d.png", "--frames", frames, "--size", "64x48",
                     "--style", "spheres", "--quiet")
        assert result.returncode == 0, result.stderr
        assert result.stderr == ""  # no progress bar off a terminal
    names = sorted(os.listdir(tmp_path / "seq"))
    assert names == [f"f{k:05d}.png" for k in range(6)]
    assert {png_size(tmp_path / "seq" / n) for n in names} == {(64, 48)}


def test_one_picture_holds_one_frame(run, tmp_path):
    result = run("--output", "many.png", "--frames", "0:2")
    assert result.returncode == 2
    assert "one picture" in result.stderr
    assert not (tmp_path / "many.png").exists()


@pytest.mark.skipif(shutil.which("ffprobe") is None, reason="needs ffprobe (Debian ffmpeg)")
def test_video_holds_every_selected_frame(run, tmp_path):
    result = run("--output", "v.mp4", "--size", "96x64", "--frames", "::-1")
    assert result.returncode == 0, result.stderr
    count = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                            "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0",
                            str(tmp_path / "v.mp4")], capture_output=True, text=True)
    assert count.stdout.strip() == "6"


def test_missing_ffmpeg_names_the_package(run, tmp_path):
    result = run("--output", "v.webm", env={"PATH": "/nonexistent"})
    assert result.returncode == 1
    assert "Debian package ffmpeg" in result.stderr
    assert not (tmp_path / "v.webm").exists() and leftovers(tmp_path) == []


def test_a_bad_frame_fails_naming_it_and_removes_partial_output(run, tmp_path):
    movie = "".join(frame(k) for k in range(3)) + frame(3, last="1E-6x") + frame(4)
    (tmp_path / "m.Tavomovie").write_text(movie)
    os.mkdir(tmp_path / "seq")
    for output in ["seq/f%d.png", "v.mp4"]:
        result = run("--output", output, "--frames", "0:4", "--size", "64x48")
        assert result.returncode == 1, result.stderr
        assert "frame 3" in result.stderr and len(result.stderr.splitlines()) == 1
    assert sorted(os.listdir(tmp_path / "seq")) == ["f0.png", "f1.png", "f2.png"]
    assert not (tmp_path / "v.mp4").exists() and leftovers(tmp_path) == []


def test_a_bad_region_file_is_one_line_and_no_error_log(run, tmp_path):
    (tmp_path / "r.regions").write_text("N_regions 1\n0 sphere ( 0 0 0 ) ( 1e-6\n")
    result = run("--output", "r.png", "--regions", "r.regions")
    assert result.returncode == 1
    assert "r.regions" in result.stderr and len(result.stderr.splitlines()) == 1
    assert not (tmp_path / "errors.txt").exists()
    assert not (tmp_path / "r.png").exists()


# ---------------------------------------------------------------------------
# Figure options, checked on the pixels (ImageMagick decodes the pictures)
# ---------------------------------------------------------------------------

FIGURE_SETUP = SETUP.replace("N_species 2\n", "N_species 3\n").replace(
    "specie B 1 1.0 2.0e-7 1.0e-12 3 3 0\n",
    "specie B 1 1.0 2.0e-7 1.0e-12 3 3 0\nspecie C 2 1.0 1.0e-7 1.0e-12 8 8 0\n")


def box_frame(half):
    """One frame: A and B at the centre, C at the eight corners of a box of
    half-sides `half` (micrometres)."""
    corners = " ".join(f"{sx * half[0]}E-6 {sy * half[1]}E-6 {sz * half[2]}E-6"
                       for sx in (-1, 1) for sy in (-1, 1) for sz in (-1, 1))
    return (f"step 0\nspecie 0\nalive 1\n0 0 0 \nspecie 1\nalive 1\n1E-8 0 0 \n"
            f"specie 2\nalive 8\n{corners} \n")


def pixels(path):
    """(width, height, RGBA bytes, top row first)."""
    width, height = png_size(path)
    data = subprocess.run(["convert", str(path), "-depth", "8", "rgba:-"],
                          capture_output=True, check=True).stdout
    return width, height, data


def colours(path):
    width, height, data = pixels(path)
    return {tuple(data[i:i + 3]) for i in range(0, len(data), 4)}


@pytest.fixture
def figure(tmp_path):
    """tavo render of one frame of the three-species setup, with the box of
    half-sides `half`; returns the picture's path."""
    (tmp_path / "f.Tavosetup").write_text(FIGURE_SETUP)

    def render(half, *args):
        (tmp_path / "f.Tavomovie").write_text(box_frame(half))
        out = tmp_path / "f.png"
        result = subprocess.run([TAVO, "render", "f.Tavosetup", "f.Tavomovie", "-o", "f.png",
                                 "--quiet", *args], cwd=tmp_path, capture_output=True, text=True,
                                timeout=120)
        assert result.returncode == 0, result.stderr
        return out
    return render


@pytest.mark.parametrize("size,half", [("500x500", (1, 1, 1)), ("640x360", (2, 0.5, 1)),
                                       ("300x600", (0.05, 0.1, 0.05)), ("500x500", (40, 3, 9))])
def test_camera_fit_spans_nine_tenths_of_the_tighter_side(figure, size, half):
    path = figure(half, "--camera", "fit", "--size", size, "--no-overlay", "--no-axes")
    width, height, data = pixels(path)
    lit = [(i // 4 % width, i // 4 // width) for i in range(0, len(data), 4)
           if max(data[i:i + 3]) > 40]
    xs, ys = [x for x, _ in lit], [y for _, y in lit]
    spread = max((max(xs) - min(xs) + 1) / width, (max(ys) - min(ys) + 1) / height)
    assert 0.85 <= spread <= 0.95, (size, half, spread)


# Each row: options, colours that must be in the picture, colours that must
# not. A is the viewer's first colour (0, 221, 0), B its second (255, 128,
# 0 or 127 for the half level), C its third.
FIGURE_ROWS = [
    (["--background", "white"], {(255, 255, 255), (0, 221, 0)}, {(0, 0, 0)}),
    (["--background", "#336699"], {(51, 102, 153)}, {(0, 0, 0)}),
    (["--palette", "okabe-ito"], {(230, 159, 0), (86, 180, 233), (0, 158, 115)}, {(0, 221, 0)}),
    (["--palette", "viridis"], {(68, 1, 84), (253, 231, 37)}, {(0, 221, 0)}),
    (["--color", "C=#ff0000", "--color", "A=navy"], {(255, 0, 0), (0, 0, 128)}, {(0, 221, 0)}),
    (["--hide", "A,C"], set(), {(0, 221, 0), (255, 0, 0)}),
    (["--only", "A", "--palette", "okabe-ito"], {(230, 159, 0)},
     {(86, 180, 233), (0, 158, 115)}),
]


@pytest.mark.parametrize("args,present,absent", FIGURE_ROWS)
def test_backgrounds_palettes_and_hidden_species_by_pixel_colours(figure, args, present, absent):
    path = figure((1, 1, 1), "--camera", "1.2,1.1,4", "--size", "300x300", "--no-overlay",
                  "--no-axes", *args)
    found = colours(path)
    assert present <= found, (args, present - found)
    assert not (absent & found), (args, absent & found)


def test_transparent_background_has_alpha_and_video_refuses_it(figure, run, tmp_path):
    width, height, data = pixels(figure((1, 1, 1), "--camera", "fit", "--transparent",
                                        "--no-overlay"))
    alphas = {data[i + 3] for i in range(0, len(data), 4)}
    assert alphas >= {0, 255} and data[3] == 0
    result = run("--output", "t.mp4", "--transparent")
    assert result.returncode == 2 and "--transparent" in result.stderr


def test_unknown_species_or_colour_is_a_command_line_error(run):
    for args, says in [(["--hide", "A,Q"], "Q is no species"), (["--color", "B=blu"], "no colour"),
                       (["--only", "Z"], "its species are A, B")]:
        result = run("--output", "x.png", *args)
        assert result.returncode == 2 and says in result.stderr, (args, result.stderr)


@pytest.mark.parametrize("size,radius", [("500x500", 15), ("800x400", 3), ("400x700", 60)])
def test_scale_bar_is_as_long_as_its_length(figure, size, radius):
    """The bar, at the bottom left, spans 1, 2 or 5 x 10^k metres seen at
    the distance of the point looked at: the largest such length within a
    quarter of the picture's width, to a pixel."""
    path = figure((0.01, 0.01, 0.01), "--camera", f"1,1,{radius}", "--size", size, "--no-overlay",
                  "--no-axes", "--scale-bar")
    width, height, data = pixels(path)
    focal = height / 2 / math.tan(math.radians(22.5))  # pixels per unit at distance 1
    per_metre = focal / radius * 1e6
    lengths = [m * 10.0 ** k for k in range(-12, 3) for m in (1, 2, 5)]
    expected = max(m for m in lengths if m * per_metre <= width / 4) * per_metre
    # The longest run of white in the bottom rows.
    longest = 0
    for y in range(height - 20, height):
        run_length = 0
        for x in range(width):
            i = (y * width + x) * 4
            run_length = run_length + 1 if data[i] > 200 and data[i + 1] > 200 else 0
            longest = max(longest, run_length)
    assert abs(longest - expected) <= 1, (size, radius, longest, expected)
