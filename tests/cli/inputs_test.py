"""Movies as people keep them, through the tavo command: appended runs,
gzip and zstd files (made by gzip, zstd and tavo compress), standard input
and FIFOs, and inputs that never end. Each form must give what the plain
file gives. Run by CTest with TAVO and TAVO_SOURCE_DIR set."""
import json, os, subprocess, threading, time

import pytest

from commands_test import SOURCE, tavo, demo  # noqa: F401  (demo is a fixture)


def run(args, cwd, stdin=None):
    return subprocess.run(args, cwd=cwd, stdin=stdin, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=300)


@pytest.fixture(scope="module")
def twice(demo):
    """The demo movie run twice into one file, and its compressed forms."""
    text = (demo / "demo.Tavomovie").read_bytes()
    (demo / "twice.Tavomovie").write_bytes(text + text)
    for made in (["gzip", "-kf", "twice.Tavomovie"], ["zstd", "-qf", "twice.Tavomovie"],
                 [os.environ["TAVO"], "compress", "demo.Tavosetup", "twice.Tavomovie",
                  "-o", "c.zst"],
                 [os.environ["TAVO"], "compress", "demo.Tavosetup", "twice.Tavomovie",
                  "-o", "c.gz", "--level", "1"]):
        assert run(made, demo).returncode == 0
    # Named as nothing that tells the kind: only the first bytes do.
    os.replace(demo / "twice.Tavomovie.gz", demo / "g.Tavomovie")
    os.replace(demo / "twice.Tavomovie.zst", demo / "z.Tavomovie")
    return demo


def feed_fifo(path, data):
    """Writes to a FIFO as a simulator would; a reader may stop early (export
    stops at its last frame), as `head` does."""
    try:
        with open(path, "wb") as f:
            f.write(data)
    except BrokenPipeError:
        pass


def outputs(folder, movie, stdin=None, fifo=False):
    """info --json (but for the file fields), population and an xyz export."""
    got = []
    for args in (["info", "--json", "--check"], ["population"],
                 ["export", "-f", "xyz", "--frames", "290:310", "-o", "/dev/stdout"]):
        feed = open(folder / stdin, "rb") if stdin else None
        path = movie
        if fifo:
            path = str(folder / "fifo")
            if os.path.exists(path):
                os.remove(path)
            os.mkfifo(path)
            writer = threading.Thread(target=feed_fifo, args=(path, (folder / movie).read_bytes()))
            writer.start()
        result = run([os.environ["TAVO"], args[0], "demo.Tavosetup", path, *args[1:]], folder, feed)
        if fifo:
            writer.join()
        assert result.returncode == 0, result.stderr
        if args[0] == "info":
            info = json.loads(result.stdout)
            del info["format"], info["file_bytes"]
            got.append(info)
        else:
            got.append(result.stdout)
    return got


@pytest.mark.parametrize("movie, stdin, fifo", [
    ("g.Tavomovie", None, False),         # plain gzip, one member
    ("z.Tavomovie", None, False),         # plain zstd
    ("c.zst", None, False),               # tavo compress: seekable zstd
    ("c.gz", None, False),                # tavo compress: BGZF
    ("-", "g.Tavomovie", False),          # gzip on standard input
    ("-", "twice.Tavomovie", False),      # plain text on standard input
    ("c.zst", None, True),                # zstd through a FIFO
])
def test_every_form_reads_as_the_plain_file(twice, movie, stdin, fifo):
    assert outputs(twice, movie, stdin, fifo) == outputs(twice, "twice.Tavomovie")


def test_appended_runs_are_reported_and_the_table_is_the_writers(twice):
    info = json.loads(tavo("info", "--json", "demo.Tavosetup", "twice.Tavomovie", cwd=twice).stdout)
    table = open(os.path.join(SOURCE, "examples", "demo.population"), "rb").read()
    assert (info["runs"], info["format"], info["frames"]) == (
        [{"first_frame": 0, "frames": 300, "first_step": 0, "last_step": 299},
         {"first_frame": 300, "frames": 300, "first_step": 0, "last_step": 299}], "plain", 600)
    assert tavo("population", "demo.Tavosetup", "twice.Tavomovie", cwd=twice).stdout == table * 2


@pytest.mark.parametrize("out, level, decompress", [
    ("a.zst", "1", ["zstd", "-dc"]), ("b.zst", "19", ["zstd", "-dc"]),
    ("a.gz", "1", ["gzip", "-dc"]), ("b.gz", "9", ["gzip", "-dc"]),
])
def test_compressed_files_give_back_the_text_with_the_usual_tools(twice, out, level, decompress):
    assert tavo("compress", "demo.Tavosetup", "demo.Tavomovie", "-o", out, "--level", level,
                cwd=twice).returncode == 0
    assert run([*decompress, out], twice).stdout == (twice / "demo.Tavomovie").read_bytes()


@pytest.mark.parametrize("args, message", [
    (["render", "demo.Tavosetup", "-", "-o", "x.png"], "cannot give"),
    (["export", "demo.Tavosetup", "-", "-f", "xyz", "-o", "x.xyz", "--frames", "-1"], "--frames -1"),
    (["export", "demo.Tavosetup", "-", "-f", "xyz", "-o", "x.xyz", "--frames", "::2"], "--frames ::2"),
    (["compress", "demo.Tavosetup", "twice.Tavomovie", "-o", "x.bz2"], "must end in .zst"),
    (["compress", "demo.Tavosetup", "twice.Tavomovie", "-o", "x.gz", "--level", "12"], "1 to 9"),
])
def test_random_access_commands_refuse_a_stream(twice, args, message):
    if args[0] == "render" and subprocess.run([os.environ["TAVO"], "help"], stdout=subprocess.PIPE
                                              ).stdout.find(b"render") < 0:
        pytest.skip("tavo render is not built")
    result = run([os.environ["TAVO"], *args], twice, open(twice / "g.Tavomovie", "rb"))
    assert (result.returncode in (1, 2), message in result.stderr.decode()) == (True, True), \
        result.stderr


@pytest.mark.parametrize("device", ["/dev/zero", "/dev/urandom"])
def test_endless_devices_fail_within_a_second(twice, device):
    start = time.monotonic()
    result = run([os.environ["TAVO"], "info", "demo.Tavosetup", device], twice)
    assert (result.returncode, time.monotonic() - start < 1.0) == (1, True), result.stderr
