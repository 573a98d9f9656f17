"""The library's image writers: EXR (half floats), layered EXR and PNG (8 or 16 bits)."""

import ctypes
import os

from . import arrays
from . import layers as layer_names
from ._library import lib
from .errors import ImageWriteError


def _raise_write_error(path):
    # The library keeps the reason itself: its errno need not be the one Python reads.
    number = lib.ekLastWriteError()
    raise ImageWriteError(number, os.strerror(number), os.fspath(path))


def _write(path, rgba, call):
    rgba = arrays.checked_image("rgba", rgba)
    height, width = rgba.shape[:2]
    if call(os.fsencode(path), width, height, arrays.pointer(rgba, ctypes.c_float)) != 0:
        _raise_write_error(path)


def save_exr(path, rgba):
    """Writes float32 (height, width, 4) linear premultiplied RGBA as a half-float EXR file."""
    _write(path, rgba, lib.ekSaveEXR)


def save_png(path, rgba, sixteen_bit=False):
    """Writes float32 (height, width, 4) RGBA as an 8-bit (or 16-bit) PNG file."""
    _write(path, rgba, lambda *args: lib.ekSavePNG(*args, bool(sixteen_bit)))


def save_layered_exr(path, rgba, layers, compression="zip"):
    """Writes the beauty, float32 (height, width, 4) linear premultiplied RGBA, and `layers`, a
    dict from layer name to float32 (height, width, channels) as Context.render returns them,
    as one multi-layer EXR file with ekrender's channel names: R, G, B, A; Z for depth;
    "<layer>.<letter>" for the others (forward.u, light1.R, coverage.Y). Colours are stored as
    half floats, the measures (depth, motion, coverage, raw) as floats; `compression` is "zip"
    or "none"."""
    rgba = arrays.checked_image("rgba", rgba)
    height, width = rgba.shape[:2]
    code = layer_names.compression_code(compression)
    # The names are kept here, alive until the call returns: the records hold only pointers.
    names = [name.encode() for name in "RGBA"]
    channels = [
        layer_names.ExrChannel(name, layer_names.EXR_HALF, 4, arrays.float_at(rgba, c), 0)
        for c, name in enumerate(names)
    ]
    for layer, pixels in layers.items():
        channel_names, sample_type = layer_names.channels_of(layer)
        pixels = arrays.checked_image(layer, pixels, (height, width, len(channel_names)))
        for c, name in enumerate(channel_names):
            names.append(name.encode())
            channels.append(
                layer_names.ExrChannel(
                    names[-1], sample_type, len(channel_names), arrays.float_at(pixels, c), 0
                )
            )
    table = (layer_names.ExrChannel * len(channels))(*channels)
    status = lib.ekSaveLayeredEXR(
        os.fsencode(path), width, height, ctypes.addressof(table), len(channels), code, None, None
    )
    if status != 0:
        _raise_write_error(path)
