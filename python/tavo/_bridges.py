"""Frames and movies as the objects of ASE and MDAnalysis.

Neither package is imported until a bridge is called, so that tavo works
without them. Both take lengths in angstrom and MDAnalysis times in
picoseconds; the files hold metres and seconds.
"""
import numpy as np

ANGSTROM_PER_METRE = 1e10
PICOSECONDS_PER_SECOND = 1e12


def _require(package, debian, caller):
    try:
        return __import__(package)
    except ImportError as missing:
        raise ImportError("%s needs %s (Debian package %s)" % (caller, package, debian)) from missing


def _symbols(setup, elements):
    """The chemical symbol of each species, as the XYZ export writes them: a
    species whose name is an element symbol keeps it, any other is X, and
    `elements` ({name: symbol}) overrides either."""
    from ase.data import chemical_symbols
    known = set(chemical_symbols[1:])
    symbols = [name if name in known else "X" for name in setup.species_names]
    for name, symbol in dict(elements or {}).items():
        if symbol not in chemical_symbols:
            raise ValueError("elements: '%s' is no chemical symbol (for species '%s')" % (symbol, name))
        symbols[setup.species_id(name)] = symbol
    return symbols


def to_ase(frame, elements=None):
    """The frame's live molecules as ``ase.Atoms``.

    Parameters
    ----------
    elements : dict, optional
        Chemical symbol by species name. Without one, a species whose name is
        an element symbol keeps it and any other is X, as in the XYZ export.

    Returns
    -------
    ase.Atoms
        Positions in angstrom, in the order of ``all_positions()``; masses
        from the setup; the species names in ``arrays['name']``, the species
        IDs in ``arrays['species_id']``; ``info`` holds the step, time
        (seconds) and frame index.
    """
    ase = _require("ase", "python3-ase", "Frame.to_ase")
    setup = frame.setup
    ids = frame.species_ids
    symbols = np.array(_symbols(setup, elements), dtype=object)[ids]
    atoms = ase.Atoms(symbols=list(symbols), positions=frame.all_positions() * ANGSTROM_PER_METRE)
    atoms.set_masses(np.array([s.mass for s in setup.species], dtype=float)[ids])
    atoms.set_array("name", np.array(setup.species_names, dtype=str)[ids])
    atoms.set_array("species_id", np.array(ids))
    atoms.info.update(step=frame.step, time=frame.time, frame=frame.index)
    return atoms


_reader = None


def _memory_reader():
    """MDAnalysis' in-memory reader, keeping each frame's own time (appended
    runs and picked frames are not evenly spaced)."""
    global _reader
    if _reader is None:
        from MDAnalysis.coordinates.memory import MemoryReader

        class TavoMemoryReader(MemoryReader):
            def __init__(self, coordinate_array, times=None, **kwargs):
                self._times = times
                super().__init__(coordinate_array, **kwargs)
                # copy() passes these back.
                self._kwargs = dict(getattr(self, "_kwargs", {}), times=times)

            def _read_next_timestep(self, ts=None):
                ts = super()._read_next_timestep(ts)
                if self._times is not None:
                    ts.time = self._times[ts.frame]
                return ts

        _reader = TavoMemoryReader
    return _reader


def to_mdanalysis(movie, frames=None):
    """Frames as an ``MDAnalysis.Universe`` on the padded layout.

    Parameters
    ----------
    frames : slice or sequence of int, optional
        The frames to load (all when omitted), as for ``padded()``.

    Returns
    -------
    MDAnalysis.Universe
        One atom per slot (``slot_species``), in memory; positions in
        angstrom, NaN in empty slots; each frame's time in picoseconds. Atom
        names, types and residue names are the species names, one residue
        per species; masses from the setup.
    """
    mda = _require("MDAnalysis", "python3-mdanalysis", "Movie.to_mdanalysis")
    setup = movie.setup
    positions, _ = movie.padded(frames)
    times = movie.times[_picked(movie, frames)] * PICOSECONDS_PER_SECOND
    ids = np.asarray(movie.slot_species)
    names = np.array(setup.species_names, dtype=object)
    universe = mda.Universe.empty(len(ids), n_residues=len(names), atom_resindex=ids,
                                  residue_segindex=np.zeros(len(names), dtype=int), trajectory=False)
    universe.add_TopologyAttr("name", names[ids])
    universe.add_TopologyAttr("type", names[ids])
    universe.add_TopologyAttr("resname", names)
    universe.add_TopologyAttr("resid", np.arange(1, len(names) + 1))
    universe.add_TopologyAttr("mass", np.array([s.mass for s in setup.species], dtype=float)[ids])
    dt = times[1] - times[0] if len(times) > 1 else 0.0
    universe.load_new((positions * ANGSTROM_PER_METRE).astype(np.float32), format=_memory_reader(),
                      order="fac", dt=dt, times=times)
    return universe


def _picked(movie, frames):
    """Positions within `movie` (a Movie or a selection) of the frames picked."""
    every = np.arange(len(movie))
    if frames is None:
        return every
    if isinstance(frames, slice):
        return every[frames]
    return every[np.asarray(list(frames), dtype=np.int64)]
