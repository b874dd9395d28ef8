#!/usr/bin/env python3
"""The Python module's analysis calls against the C++ loops they stand for, in
the same run.

Usage: /usr/bin/python3 bench/python_analysis.py [BUILD_DIR [ROUNDS]]

Writes to a temporary folder a movie of 100 frames of 10^5 live molecules
(four species of 25000), a region file of one region of every type, and 10^6
random points around them, then alternates, ROUNDS times (default 5):
  C++     build/bench/python_baseline_bench: Movie::read of frames 0..99 into
          one reused Frame, and the inRegion loop over the points for each
          region (answers stored);
  Python  Movie.padded(slice(0, 100)), and Regions.contains(points, r).
Each side repeats for at least 0.5 s (padded) or 0.2 s (contains) per
repetition, after an untimed call, and reports the median of 5 repetitions'
mean times, wall-clock and CPU. The script prints every round and the median
of the rounds' ratios Python / C++.
"""
import os
import statistics
import subprocess
import sys
import tempfile

import numpy as np

sys.dont_write_bytecode = True  # nothing written beside the scripts
from pybench import arguments, benchmark_medians, timed, write_setup  # noqa: E402

SPECIES, EACH, FRAMES, POINTS = 4, 25000, 100, 10**6
REPETITIONS = 5
REGIONS = """N_regions 6
0 box ( 1e-7 -2e-7 0 ) ( 2e-6 3e-6 2.5e-6 )
1 boxshell ( 0 0 0 ) ( 3e-6 3e-6 3e-6 2e-6 2e-6 2e-6 )
2 sphere ( 0 0 0 ) ( 1.5e-6 )
3 sphereshell ( 0 0 0 ) ( 1.2e-6 1.6e-6 )
4 cylinder ( 0 0 0 ) ( 1e-6 3e-6 )
5 cylindershell ( 0 0 0 ) ( 1e-6 1.5e-6 3e-6 )
"""
TYPES = [line.split()[1] for line in REGIONS.splitlines()[1:]]


def write_files(folder):
    setup = write_setup(folder, SPECIES, EACH, 1000)
    rng = np.random.default_rng(42)
    # One frame's coordinates, written under every step: the reads parse them all the same.
    blocks = []
    for s in range(SPECIES):
        xyz = " ".join("%E" % v for v in rng.uniform(-2e-6, 2e-6, 3 * EACH))
        blocks.append("specie %d\nalive %d\n%s \n" % (s, EACH, xyz))
    body = "".join(blocks)
    movie = os.path.join(folder, "bench.Tavomovie")
    with open(movie, "w") as f:
        for step in range(FRAMES):
            f.write("step %d\n" % step)
            f.write(body)
    regions = os.path.join(folder, "bench.regions")
    with open(regions, "w") as f:
        f.write(REGIONS)
    points = os.path.join(folder, "points.f64")
    rng.uniform(-2e-6, 2e-6, (POINTS, 3)).tofile(points)
    return setup, movie, regions, points


def cpp_round(program, files, folder):
    """Median seconds per run, {benchmark: (wall, cpu)}."""
    setup, movie, regions, points = files
    out = os.path.join(folder, "cpp.json")
    run = subprocess.run(
        [program, "--setup=" + setup, "--movie=" + movie, "--frames=%d" % FRAMES,
         "--regions=" + regions, "--points=" + points, "--benchmark_out=" + out,
         "--benchmark_out_format=json", "--benchmark_repetitions=%d" % REPETITIONS,
         "--benchmark_report_aggregates_only=true", "--benchmark_min_time=0.2"],
        capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit("python_baseline_bench failed:\n" + run.stderr)
    with open(out) as f:
        return benchmark_medians(f.read())


def python_round(tavo, files):
    setup, movie, regions, points = files
    m = tavo.Movie(setup, movie)
    r = tavo.Regions(regions)
    xyz = np.fromfile(points).reshape(-1, 3)
    result = {"padded": timed(lambda: m.padded(slice(0, FRAMES)), 0.5, REPETITIONS)}
    for k in range(len(TYPES)):
        result[k] = timed(lambda: r.contains(xyz, k), 0.2, REPETITIONS)
    return result


def main():
    tavo, program, rounds = arguments("python_baseline_bench")
    with tempfile.TemporaryDirectory() as tmp:
        files = write_files(tmp)
        print("movie: %d frames of %d molecules, %.0f MB; %d points; load average %.2f"
              % (FRAMES, SPECIES * EACH, os.path.getsize(files[1]) / 1e6, POINTS, os.getloadavg()[0]))
        names = ["padded"] + TYPES
        ratios = {name: ([], []) for name in names}
        for r in range(rounds):
            cpp = cpp_round(program, files, tmp)
            py = python_round(tavo, files)
            pairs = [("padded", cpp["ReadFrames"], py["padded"])]
            pairs += [(TYPES[k], cpp["InRegionLoop/%d" % k], py[k]) for k in range(len(TYPES))]
            print("round %d (ms, wall / CPU)" % (r + 1))
            for name, c, p in pairs:
                ratios[name][0].append(p[0] / c[0])
                ratios[name][1].append(p[1] / c[1])
                print("  %-14s C++ %8.2f / %8.2f  Python %8.2f / %8.2f  ratio %5.3f / %5.3f"
                      % (name, c[0] * 1e3, c[1] * 1e3, p[0] * 1e3, p[1] * 1e3,
                         ratios[name][0][-1], ratios[name][1][-1]))
        print("median ratios Python / C++ (wall, CPU); targets: padded 1.2, contains 1.5")
        for name in names:
            print("  %-14s %5.3f %5.3f" % (name, statistics.median(ratios[name][0]),
                                            statistics.median(ratios[name][1])))
        print("load average %.2f" % os.getloadavg()[0])


if __name__ == "__main__":
    main()
