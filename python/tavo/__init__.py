"""Setups, movies and regions of particle-based reaction-diffusion simulations, as NumPy.

Setup(path)                  the species, reactions and environment of a setup
Movie(setup, movie_path)     a movie's frames: steps, times, counts, m[k], slices,
                             m['S'] (one species' counts), padded() (frames x slots)
Frame.positions(species)     (n, 3) float64 coordinates, a view without copy
Frame.all_positions()        (N, 3) float64 of every live molecule; Frame.species_ids
Regions(path)                a region file: volumes, contains(points, region), which(points)
Frame.to_ase(), Movie.to_mdanalysis()
                             bridges to ASE and MDAnalysis (imported when called)
Error                        every failure (a ValueError), naming the file; a file
                             that cannot be opened raises FileNotFoundError,
                             PermissionError, ...: each a tavo.Error and the OSError

Lengths are metres and times seconds, as in the files; the bridges convert to
the units of ASE and MDAnalysis (angstrom, picosecond).
"""
import builtins as _builtins
import errno as _errno
import os as _os

from . import _tavo
from ._bridges import to_ase as _to_ase
from ._bridges import to_mdanalysis as _to_mdanalysis
from ._tavo import (Error, ForwardReaction, Frame, FrameIterator, Frames, Movie, Region, Regions,
                    ReverseReaction, Setup, Species, __version__)

# The file errors named like Python's own stay out of `from tavo import *`,
# which would hide the built-in ones.
__all__ = ["Error", "FileError", "ForwardReaction", "Frame", "FrameIterator", "Frames", "Movie",
           "Region", "Regions", "ReverseReaction", "Setup", "Species", "__version__"]


class FileError(OSError, Error):
    """A file that cannot be opened: both a tavo.Error and an OSError.

    ``errno``, ``strerror`` and ``filename`` are those of the failed system
    call; ``str()`` is the module's one-line message naming the file.
    """

    def __str__(self):
        message = getattr(self, "message", None)
        return message if message else OSError.__str__(self)


class FileNotFoundError(_builtins.FileNotFoundError, FileError):
    """A file that does not exist: a tavo.Error and a FileNotFoundError."""


class PermissionError(_builtins.PermissionError, FileError):
    """A file that may not be read: a tavo.Error and a PermissionError."""


class IsADirectoryError(_builtins.IsADirectoryError, FileError):
    """A folder given for a file: a tavo.Error and an IsADirectoryError."""


class NotADirectoryError(_builtins.NotADirectoryError, FileError):
    """A path through something that is no folder: a tavo.Error and a NotADirectoryError."""


_FILE_ERRORS = {
    _errno.ENOENT: FileNotFoundError,
    _errno.EACCES: PermissionError,
    _errno.EPERM: PermissionError,
    _errno.EISDIR: IsADirectoryError,
    _errno.ENOTDIR: NotADirectoryError,
}


def _file_error(message, number, filename):
    """The exception for a failed system call; called by the compiled module."""
    cls = _FILE_ERRORS.get(number, FileError)
    args = (number, _os.strerror(number)) + ((filename,) if filename is not None else ())
    error = cls(*args)
    error.message = message
    return error


_tavo._set_file_error(_file_error)

Frame.to_ase = _to_ase
Movie.to_mdanalysis = _to_mdanalysis
Frames.to_mdanalysis = _to_mdanalysis
