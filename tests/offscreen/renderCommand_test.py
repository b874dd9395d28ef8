"""tavo render as a user meets it: no display, exit statuses, messages, and
the files it leaves. Run by CTest with TAVO naming the tavo program."""
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
