"""What the Python benchmark scripts share: the setup they write, the timing
loop and the C++ side's medians."""
import importlib
import json
import os
import statistics
import sys
import time


def write_setup(folder, species, each, total_step):
    """A setup of `species` species S0, S1, ... of `each` slots, no reactions."""
    setup = os.path.join(folder, "bench.Tavosetup")
    with open(setup, "w") as f:
        f.write("N_species %d\n" % species)
        for s in range(species):
            f.write("specie S%d %d 1.0 1.0e-9 1.0e-10 %d %d 0\n" % (s, s, each, each))
        f.write("N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 0 ;\ntemperature(K) 300.0\nviscosity 3.0\n"
                "pH 7.0\ntotal_step %d\ntime_step(s) 1.0e-6\n" % total_step)
    return setup


def timed(call, min_time, repetitions):
    """Median (wall, cpu) seconds per call, each repetition at least `min_time`
    seconds, after one untimed call."""
    call()
    walls, cpus = [], []
    for _ in range(repetitions):
        calls, wall, cpu = 0, time.perf_counter(), time.process_time()
        while True:
            call()
            calls += 1
            if time.perf_counter() - wall >= min_time:
                break
        walls.append((time.perf_counter() - wall) / calls)
        cpus.append((time.process_time() - cpu) / calls)
    return statistics.median(walls), statistics.median(cpus)


def benchmark_medians(report):
    """{benchmark: (wall, cpu) seconds} of the medians in a Google Benchmark
    JSON report."""
    return {b["run_name"]: (b["real_time"] / 1e3, b["cpu_time"] / 1e3)
            for b in json.loads(report)["benchmarks"] if b.get("aggregate_name") == "median"}


def arguments(program):
    """The script's arguments [BUILD_DIR [ROUNDS]]: the tavo module of that
    build (imported), the path of its C++ benchmark `program`, and the
    number of rounds."""
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    sys.path.insert(0, os.path.join(build, "python"))
    return importlib.import_module("tavo"), os.path.join(build, "bench", program), rounds
