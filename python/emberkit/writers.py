"""The library's image writers: EXR (half floats) and PNG (8 or 16 bits)."""

import ctypes
import os

from . import arrays
from ._library import lib
from .errors import ImageWriteError


def _write(path, rgba, call):
    rgba = arrays.checked_image("rgba", rgba)
    height, width = rgba.shape[:2]
    if call(os.fsencode(path), width, height, arrays.pointer(rgba, ctypes.c_float)) != 0:
        # The library keeps the reason itself: its errno need not be the one Python reads.
        number = lib.ekLastWriteError()
        raise ImageWriteError(number, os.strerror(number), os.fspath(path))


def save_exr(path, rgba):
    """Writes float32 (height, width, 4) linear premultiplied RGBA as a half-float EXR file."""
    _write(path, rgba, lib.ekSaveEXR)


def save_png(path, rgba, sixteen_bit=False):
    """Writes float32 (height, width, 4) RGBA as an 8-bit (or 16-bit) PNG file."""
    _write(path, rgba, lambda *args: lib.ekSavePNG(*args, bool(sixteen_bit)))
