#!/usr/bin/env python3
"""Frame reads from Python against the C++ reader, in the same run.

Usage: /usr/bin/python3 bench/python_frames.py [BUILD_DIR [ROUNDS]]

Writes a movie of two frames of 10^6 live molecules (four species of 250000)
to a temporary folder, then alternates, ROUNDS times (default 5):
  C++     build/bench/frame_read_bench on that movie: Movie::read(k), a new
          Frame each time (and, for reference, read into a reused Frame);
  Python  m[k] and frame.positions(s) for every species (NumPy views).
Each side reads for at least 0.3 s per repetition, after untimed reads, and
reports the median of its 9 repetitions' mean times, both wall-clock and CPU
(the CPU times stand up better on a machine others are using). The script
prints every round and the median of the rounds' ratios Python / C++.
"""
import os
import statistics
import subprocess
import sys
import tempfile

import numpy as np

sys.dont_write_bytecode = True  # nothing written beside the scripts
from pybench import arguments, benchmark_medians, timed, write_setup  # noqa: E402

SPECIES, EACH = 4, 250000
REPETITIONS = 9
MIN_TIME = 0.3  # seconds per repetition, both sides


def write_movie(folder):
    setup = write_setup(folder, SPECIES, EACH, 10)
    movie = os.path.join(folder, "bench.Tavomovie")
    rng = np.random.default_rng(42)
    with open(movie, "w") as f:
        for step in range(2):
            f.write("step %d\n" % step)
            for s in range(SPECIES):
                f.write("specie %d\nalive %d\n" % (s, EACH))
                np.savetxt(f, rng.uniform(-1e-6, 1e-6, (EACH, 3)), fmt="%E", delimiter=" ", newline=" ")
                f.write("\n")
    return setup, movie


def cpp_round(program, setup, movie):
    """Median seconds per read, {benchmark: (wall, cpu)}."""
    out = subprocess.run(
        [program, "--setup=" + setup, "--movie=" + movie, "--frame=1", "--benchmark_format=json",
         "--benchmark_repetitions=%d" % REPETITIONS, "--benchmark_report_aggregates_only=true",
         "--benchmark_min_time=%g" % MIN_TIME],
        check=True, capture_output=True, text=True).stdout
    return benchmark_medians(out)


def python_round(tavo, setup, movie):
    """Median seconds per m[k] plus positions(s) for every species, (wall, cpu)."""
    m = tavo.Movie(setup, movie)

    def read():
        frame = m[1]
        views = [frame.positions(s) for s in range(SPECIES)]
        return sum(len(v) for v in views)

    for _ in range(3):
        assert read() == SPECIES * EACH
    return timed(read, MIN_TIME, REPETITIONS)


def main():
    tavo, program, rounds = arguments("frame_read_bench")
    with tempfile.TemporaryDirectory() as tmp:
        setup, movie = write_movie(tmp)
        print("movie: 2 frames of %d molecules, %.0f MB; load average %.2f"
              % (SPECIES * EACH, os.path.getsize(movie) / 1e6, os.getloadavg()[0]))
        print("times in ms, wall / CPU")
        print("%5s %16s %16s %16s %13s" % ("round", "C++ read", "C++ reuse", "Python", "ratio"))
        wall_ratios, cpu_ratios = [], []
        for r in range(rounds):
            cpp = cpp_round(program, setup, movie)
            py = python_round(tavo, setup, movie)
            fresh, reused = cpp["ReadFrame"], cpp["ReadFrameInto"]
            wall_ratios.append(py[0] / fresh[0])
            cpu_ratios.append(py[1] / fresh[1])
            print("%5d %7.1f / %6.1f %7.1f / %6.1f %7.1f / %6.1f %5.3f / %5.3f"
                  % (r + 1, fresh[0] * 1e3, fresh[1] * 1e3, reused[0] * 1e3, reused[1] * 1e3,
                     py[0] * 1e3, py[1] * 1e3, wall_ratios[-1], cpu_ratios[-1]))
        print("median ratio Python / C++ read: wall %.3f, CPU %.3f (target: at most 1.2); load average %.2f"
              % (statistics.median(wall_ratios), statistics.median(cpu_ratios), os.getloadavg()[0]))


if __name__ == "__main__":
    main()
