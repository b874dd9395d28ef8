#!/usr/bin/env python3
"""Mean square displacement and populations of the demo run, read with tavo.

Usage (from the repository root, after building):

    PYTHONPATH=build/python python3 examples/analysis.py [OUT.png]

OUT.png defaults to docs/analysis.png. With an installed package, point
PYTHONPATH at the prefix's lib/python3.X/dist-packages instead. Needs NumPy
and matplotlib (Debian: python3-numpy, python3-matplotlib).

Following molecules. A movie lists each frame's live molecules afresh, in
slot order, with no identity: once a molecule of a species is made or
consumed, the i-th molecule of one frame is no longer the i-th of the next,
and no species of the demo keeps its population (S is consumed from the
first step on). Pairing the i-th with the i-th would mix molecules within a
step. This script recovers identities instead, relying on how the example
simulator writes: a molecule keeps its slot for life, so the molecules that
survive from one frame to the next appear in the same relative order. Two
consecutive frames are therefore aligned like two versions of a text: walk
both lists, pair molecules that moved less than six standard deviations of
one frame's diffusion step, and at a mismatch skip the fewest molecules
(consumed ones in the first frame, new ones in the second) that bring two
molecules within that distance face to face again. The displacement is then
averaged over the molecules present since frame 0, the ones that escaped the
enzymes in the shell so far. A molecule made within that distance of one that
vanished in the same place may on rare occasions be taken for it; movies
from a simulator that reuses slots differently need another way to follow
molecules.

The curve starts on the free-diffusion line 6Dt and falls below it as the
cell's wall confines the molecules: over the sphere of radius R that holds
S, the displacement levels off at 6R^2/5.
"""
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

try:
    import tavo  # noqa: E402
except ImportError:
    sys.exit("analysis.py: cannot import tavo; set PYTHONPATH to build/python "
             "or to the installed package's dist-packages folder")

HERE = os.path.dirname(os.path.abspath(__file__))
SPECIES = "S"
CELL_RADIUS = 2e-6  # metres, region 0 of examples/demo.regions


# Skips tried at a mismatch, fewest first: (consumed, made).
SKIPS = sorted(((a, b) for a in range(8) for b in range(8) if 0 < a + b < 8),
               key=lambda skip: (sum(skip), abs(skip[0] - skip[1])))


def align(before, after, limit):
    """Indices (i, j) pairing the molecules of `before` that are still in `after`."""
    near = lambda i, j: np.sum((before[i] - after[j]) ** 2) < limit**2  # noqa: E731
    i = j = 0
    pairs_i, pairs_j = [], []
    while i < len(before) and j < len(after):
        n = min(len(before) - i, len(after) - j)
        far = np.flatnonzero(np.sum((before[i:i + n] - after[j:j + n]) ** 2, axis=1) >= limit**2)
        run = far[0] if far.size else n
        pairs_i.append(np.arange(i, i + run))
        pairs_j.append(np.arange(j, j + run))
        i, j = i + run, j + run
        if run == n:
            break
        skip = next(((a, b) for a, b in SKIPS
                     if i + a < len(before) and j + b < len(after) and near(i + a, j + b)), (1, 1))
        i, j = i + skip[0], j + skip[1]
    return np.concatenate(pairs_i), np.concatenate(pairs_j)


def mean_square_displacement(movie, species):
    """Per frame: MSD of the molecules present since frame 0, and how many they are."""
    s = movie.setup.species_id(species)
    D = movie.setup.species[s].diffusion
    # Every frame at once in the padded layout, the species' own slots only:
    # frame k's live molecules are positions[k][alive[k]], in file order.
    positions, alive = movie.padded()
    mine = movie.slot_species == s
    positions, alive, times = positions[:, mine], alive[:, mine], movie.times
    start = positions[0][alive[0]]
    before, origin = start, np.arange(len(start))  # origin: index in frame 0, or -1
    msd, followed = np.zeros(len(movie)), np.zeros(len(movie), dtype=int)
    followed[0] = len(start)
    for k in range(1, len(movie)):
        after = positions[k][alive[k]]
        dt = times[k] - times[k - 1]
        i, j = align(before, after, 6 * np.sqrt(2 * D * dt))
        origin_next = np.full(len(after), -1)
        origin_next[j] = origin[i]
        origin, before = origin_next, after
        keep = origin >= 0
        d = after[keep] - start[origin[keep]]
        msd[k], followed[k] = np.einsum("ij,ij->", d, d) / max(keep.sum(), 1), keep.sum()
    return msd, followed


def main():
    default = os.path.normpath(os.path.join(HERE, "..", "docs", "analysis.png"))
    out = sys.argv[1] if len(sys.argv) > 1 else default
    # The module reads the gzipped movie as it is.
    with tavo.Movie(os.path.join(HERE, "demo.Tavosetup"), os.path.join(HERE, "demo.Tavomovie.gz")) as movie:
        msd, followed = mean_square_displacement(movie, SPECIES)
        times, species = movie.times, movie.species
        counts = {name: movie[name] for name in species}  # live molecules over time

    D = movie.setup.species[movie.setup.species_id(SPECIES)].diffusion
    t_ms = times * 1e3
    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4.2))

    left.plot(t_ms, msd * 1e12, label="%s present since t = 0 (%d of %d at the end)"
              % (SPECIES, followed[-1], followed[0]))
    left.plot(t_ms, 6 * D * times * 1e12, "--", label="free diffusion 6Dt")
    left.axhline(1.2 * CELL_RADIUS**2 * 1e12, color="grey", lw=0.8, label="6R²/5, the cell's limit")
    left.set(xlabel="time (ms)", ylabel="mean square displacement (µm²)",
             title="Displacement of %s (D = %g m²/s)" % (SPECIES, D))
    left.legend(fontsize=8, loc="lower right")

    for name in species:
        right.plot(t_ms, counts[name], label=name)
    right.set(xlabel="time (ms)", ylabel="live molecules", title="Populations")
    right.legend(fontsize=8)

    fig.tight_layout()
    fig.savefig(out, dpi=100)
    print(out)


if __name__ == "__main__":
    main()
