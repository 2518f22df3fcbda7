"""Exact mean SSIM of grey pictures over non-overlapping 8 x 8 blocks, as the likeness tool prints it.

Every comparison takes metric="NAME" too, for the SSIM that other tools and papers report:
"blocks" (the default, the tool's own), "wang" (ssim_index.m of Wang et al. 2004), "wang-scaled"
(their ssim.m, downsampled first), "ffmpeg" (ffmpeg's ssim filter) or "skimage" (scikit-image's
structural_similarity defaults); see likeness-check(1).

read(path)            -> uint8 array, (height, width) or (height, width, 3), from an image file
compare(p, q)         -> mean block SSIM of two image files, what the likeness tool prints
ssim(a, b)            -> mean block SSIM of two uint8 arrays, the bits the tool prints
block_scores(a, b)    -> float64 array of every block's score, (height / 8, width / 8)
  (both take mask=, a bool array of the pixels to leave out, and colour=True for RGB arrays)
write_bmp(path, a)    -> writes a uint8 array as a BMP file

Arrays are read where they lie (any strides, read-only, anything with the buffer protocol), and
files are read and blocks scored with the interpreter released, so threads compare in parallel.
A file the reader refuses raises an Error with the library's result code in ``code``:
CannotOpenError (an OSError) when it cannot be opened, ImageFileError (a ValueError) otherwise;
MemoryError when memory for reading it cannot be had.
"""

import os
from typing import Union

import numpy

from . import _core

__all__ = [
    "Error",
    "CannotOpenError",
    "NotFoundError",
    "PermissionDeniedError",
    "IsAFolderError",
    "ImageFileError",
    "read",
    "compare",
    "ssim",
    "block_scores",
    "write_bmp",
]

Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


class Error(Exception):
    """A file the reader refused; ``code`` is the library's result code (negative)."""

    code: int


class CannotOpenError(Error, OSError):
    """The file cannot be opened (code -1); ``errno``, ``strerror`` and ``filename`` say why."""


class NotFoundError(CannotOpenError, FileNotFoundError):
    """There is no file at the path."""


class PermissionDeniedError(CannotOpenError, PermissionError):
    """The file may not be read."""


class IsAFolderError(CannotOpenError, IsADirectoryError):
    """The path names a folder."""


class ImageFileError(Error, ValueError):
    """The file opened but holds no picture the reader takes; ``filename`` names it."""


_OPEN_ERRORS = {
    2: NotFoundError,  # ENOENT
    13: PermissionDeniedError,  # EACCES
    21: IsAFolderError,  # EISDIR
}

_REFUSALS = {
    -2: "the file ends before its first two bytes",
    -3: "a depth or kind of picture that is not read (such as 16-bit grey or 1-bit BMP)",
    -10: "no known signature, a malformed or cut header, or a picture beyond 2^31 - 1 bytes",
    -20: "an unsupported compression, or the file ends inside its pixels",
    -30: "the decoder refused the file: broken, cut short or beyond its limits",
}


def _refusal(code: int, error: int, path: Path) -> Error:
    if code == -1:
        error = error or 5  # EIO when the system gave no reason
        refusal: Error = _OPEN_ERRORS.get(error, CannotOpenError)(
            error, os.strerror(error), path
        )
    else:
        reason = _REFUSALS.get(code, "the file cannot be read")
        refusal = ImageFileError(f"cannot read {os.fsdecode(path)!r}: {reason} (code {code})")
        refusal.filename = path  # type: ignore[attr-defined]
    refusal.code = code
    return refusal


def read(path: Path) -> numpy.ndarray:
    """Reads a BMP, PNG, PGM or JPEG file (told by its first bytes) into a new uint8 array.

    8-bit pictures give shape (height, width), 24-bit ones (height, width, 3) with r, g, b.
    Raises CannotOpenError (an OSError: NotFoundError is a FileNotFoundError) when the file
    cannot be opened, and ImageFileError (a ValueError) when it holds no picture read here;
    both carry the library's result code in ``code``.
    """
    code, error, array = _core.read(os.fsencode(path))
    if code != 0:
        raise _refusal(code, error, path)
    return array


def compare(first: Path, second: Path, blocks: bool = False, metric: str = "blocks"):
    """Compares two image files as the likeness tool does, through the same readers and checks.

    Gives the mean block SSIM, the number likeness prints; with blocks=True, the pair (mean,
    block scores as read by block_scores). A file that cannot be read raises as read() does, the
    first file's trouble first; a colour picture, shapes that differ and sides that are not
    multiples of 8 raise ValueError. metric names another SSIM, as ssim() takes it.
    """
    code, which, value, scores = _core.compare(
        os.fsencode(first), os.fsencode(second), blocks, metric
    )
    if code != 0:
        raise _refusal(code, value, first if which == 1 else second)
    return (value, scores) if blocks else value


def ssim(a, b, mask=None, colour: bool = False, metric: str = "blocks") -> float:
    """Mean SSIM over the 8 x 8 blocks of two grey pictures: the number the likeness tool prints.

    a and b are uint8 arrays (or any buffer of that kind) of the same shape whose sides are
    multiples of 8: 2-D grey levels, or (height, width, 3) arrays whose three channels are equal,
    taken as grey as the tool takes such colour files; a 0 x 0 pair gives NaN. Other element types
    raise TypeError (no conversion: the range of a float picture would be a guess); an (h, w, 3)
    array of colour, other dimensions, shapes that differ and sides that are not multiples of 8
    raise ValueError.

    mask, a bool array of shape (height, width), leaves out every window that holds a True pixel,
    as likeness-check --mask does (the mean is over the others; NaN when none is left); a mask of
    another type raises TypeError, of another shape ValueError. With colour=True an (h, w, 3)
    array of colour is scored channel by channel, each window by its lowest channel, as
    likeness-check --colour does. metric="wang", "wang-scaled", "ffmpeg" or "skimage" takes that
    SSIM instead, of pictures of any sides at least as long as its window (ValueError otherwise);
    an unknown name raises ValueError.
    """
    return _core.ssim(a, b, mask, colour, metric)


def block_scores(a, b, mask=None, colour: bool = False, metric: str = "blocks") -> numpy.ndarray:
    """Every 8 x 8 block's SSIM, as a float64 array of shape (height / 8, width / 8).

    The blocks likeness-map draws, with the same arguments and errors as ssim; their sum in row
    order divided by their count is ssim(a, b). A block that mask leaves out is NaN, so that
    numpy.nanmean gives ssim(a, b, mask). With another metric, its local windows' scores, a row
    of the array a row of windows: (height - 10, width - 10) for "wang", (height - 6, width - 6)
    for "skimage", (height // 4 - 1, width // 4 - 1) for "ffmpeg", those of the kept pixels for
    "wang-scaled".
    """
    return _core.block_scores(a, b, mask, colour, metric)


def write_bmp(path: Path, array) -> None:
    """Writes a uint8 array as an uncompressed BMP file.

    Shape (height, width) gives an 8-bit file with a grey palette, (height, width, 3) a 24-bit
    file (r, g, b). Raises TypeError for other element types, ValueError for other shapes and
    OSError when the file cannot be written.
    """
    error = _core.write_bmp(os.fsencode(path), array)
    if error != 0:
        raise OSError(error, os.strerror(error), path)
