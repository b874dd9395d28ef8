#!/usr/bin/env python3
"""Radial density of each species in the demo's cell, read with tavo.

Usage (from the repository root, after building):

    PYTHONPATH=build/python python3 examples/radial_density.py [OUT.png]

OUT.png defaults to radial_density.png in the working folder. Needs NumPy
and matplotlib (Debian: python3-numpy, python3-matplotlib).

The demo's cell is region 0 of examples/demo.regions, a sphere of radius
2 µm; its enzymes live in region 1, the shell between 1.7 µm and the wall.
Every frame of the second half of the run is read at once in the padded
layout (frames x slots, NaN in empty slots), the distance of every molecule
from the centre of the cell is binned into thin spherical shells, and each
shell's count is divided by its volume and by the number of frames: the
mean number of molecules per cubic micrometre at that distance. The dashed
line of each species is its mean density over its own region, counted with
the region's membership test and divided by the region's volume: a species
spread evenly over its region sits on it.
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
    sys.exit("radial_density.py: cannot import tavo; set PYTHONPATH to build/python "
             "or to the installed package's dist-packages folder")

HERE = os.path.dirname(os.path.abspath(__file__))
BINS = 40
UM = 1e-6  # metres per micrometre


def radial_density(movie, regions, frames):
    """Per species: molecules per µm³ in each spherical shell around the cell's
    centre, and the mean density over the species' own region."""
    setup = movie.setup
    cell = regions[0]
    centre = np.array(cell.centre)
    edges = np.linspace(0.0, cell.parameters[0], BINS + 1)
    shell_volumes = 4.0 / 3.0 * np.pi * np.diff(edges**3) / UM**3
    positions, alive = movie.padded(frames)  # (frames, slots, 3), (frames, slots)
    distance = np.linalg.norm(positions - centre, axis=2)
    curves = {}
    for s, name in enumerate(setup.species_names):
        mine = (movie.slot_species == s) & alive  # this species' live molecules
        counts, _ = np.histogram(distance[mine], bins=edges)
        region = regions[setup.region_of(s)]
        inside = regions.contains(positions[mine], region).sum()
        curves[name] = (counts / shell_volumes / len(positions),
                        inside / (region.volume / UM**3) / len(positions), region)
    return edges / UM, curves


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "radial_density.png"
    regions = tavo.Regions(os.path.join(HERE, "demo.regions"))
    # The module reads the gzipped movie as it is.
    with tavo.Movie(os.path.join(HERE, "demo.Tavosetup"), os.path.join(HERE, "demo.Tavomovie.gz")) as movie:
        frames = slice(len(movie) // 2, None)
        radius, curves = radial_density(movie, regions, frames)
        span = movie.times[frames][[0, -1]] * 1e3

    fig, ax = plt.subplots(figsize=(7.5, 4.4))
    centres = (radius[:-1] + radius[1:]) / 2
    for name, (density, mean, region) in curves.items():
        line, = ax.step(centres, density, where="mid",
                        label="%s (region %d, %s)" % (name, region.id, region.type))
        ax.axhline(mean, color=line.get_color(), ls="--", lw=0.8)
    for r in sorted({p for region in regions for p in region.parameters}):
        ax.axvline(r / UM, color="grey", lw=0.6, ls=":")
    ax.set(xlabel="distance from the cell's centre (µm)", ylabel="molecules per µm³",
           title="Radial density, %.0f to %.0f ms (dashed: mean over the species' region)"
           % tuple(span))
    ax.legend(fontsize=8, loc="upper center")
    fig.tight_layout()
    fig.savefig(out, dpi=100)
    print(out)


if __name__ == "__main__":
    main()
