#!/usr/bin/env python3
"""Frame reads from Python against the C++ reader, in the same run.

Usage: /usr/bin/python3 bench/python_frames.py [BUILD_DIR [ROUNDS]]

Writes a movie of two frames of 10^6 live molecules (four species of 250000)
to a temporary folder, then alternates, ROUNDS times (default 5):
  C++     build/bench/frame_read_bench on that movie: Movie::read(k), a new
          Frame each time (and, for reference, read into a reused Frame);
  Python  m[k] and frame.positions(s) for every species (NumPy views).
Each side reports the median of its repetitions in a round; the script
prints every round and the median of the rounds' ratios Python / C++.
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

SPECIES, EACH = 4, 250000
REPETITIONS = 9


def write_movie(folder):
    setup = os.path.join(folder, "bench.Tavosetup")
    movie = os.path.join(folder, "bench.Tavomovie")
    with open(setup, "w") as f:
        f.write("N_species %d\n" % SPECIES)
        for s in range(SPECIES):
            f.write("specie S%d %d 1.0 1.0e-9 1.0e-10 %d %d 0\n" % (s, s, EACH, EACH))
        f.write("N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 0 ;\ntemperature(K) 300.0\nviscosity 3.0\n"
                "pH 7.0\ntotal_step 10\ntime_step(s) 1.0e-6\n")
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
    """Median seconds per read: (new Frame, reused Frame)."""
    out = subprocess.run(
        [program, "--setup=" + setup, "--movie=" + movie, "--frame=1", "--benchmark_format=json",
         "--benchmark_repetitions=%d" % REPETITIONS, "--benchmark_report_aggregates_only=true",
         "--benchmark_min_time=0.3"],
        check=True, capture_output=True, text=True).stdout
    medians = {b["run_name"]: b["real_time"] / 1e3 for b in json.loads(out)["benchmarks"]
               if b.get("aggregate_name") == "median"}
    return medians["ReadFrame"], medians["ReadFrameInto"]


def python_round(tavo, setup, movie):
    """Median seconds of m[k] plus positions(s) for every species."""
    m = tavo.Movie(setup, movie)
    times = []
    for _ in range(REPETITIONS):
        start = time.perf_counter()
        frame = m[1]
        views = [frame.positions(s) for s in range(SPECIES)]
        times.append(time.perf_counter() - start)
        assert sum(len(v) for v in views) == SPECIES * EACH
        del frame, views
    return statistics.median(times)


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    sys.path.insert(0, os.path.join(build, "python"))
    import tavo
    program = os.path.join(build, "bench", "frame_read_bench")
    with tempfile.TemporaryDirectory() as tmp:
        setup, movie = write_movie(tmp)
        print("movie: 2 frames of %d molecules, %.0f MB; load average %.2f"
              % (SPECIES * EACH, os.path.getsize(movie) / 1e6, os.getloadavg()[0]))
        print("%5s %14s %16s %14s %7s" % ("round", "C++ read (ms)", "C++ reuse (ms)", "Python (ms)", "ratio"))
        ratios = []
        for r in range(rounds):
            fresh, reused = cpp_round(program, setup, movie)
            py = python_round(tavo, setup, movie)
            ratios.append(py / fresh)
            print("%5d %14.1f %16.1f %14.1f %7.3f" % (r + 1, fresh * 1e3, reused * 1e3, py * 1e3, ratios[-1]))
        print("median ratio Python / C++ read: %.3f (target: at most 1.2)" % statistics.median(ratios))


if __name__ == "__main__":
    main()
