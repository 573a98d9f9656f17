"""Render layers by name, as ekrender's --layers names them, and the records the library reads."""

import ctypes
import re

from .errors import EmberkitError

LAYER_COVERAGE = 0
LAYER_RAW = 1
LAYER_DEPTH = 2
LAYER_FORWARD = 3
LAYER_BACKWARD = 4
LAYER_EMISSION = 5
LAYER_AMBIENT = 6
LAYER_LIGHT = 7

EXR_HALF = 0
EXR_FLOAT = 1
_COMPRESSIONS = {"none": 0, "zip": 1}

LAYER_NAMES = (
    "coverage, raw, depth, forward, backward, motion, emission, ambient, lights, light1 .. lightN"
)

# name: (kind, the letters after the dot (the bare letter for depth), stored as half or float).
# Colours go as half floats, as compositors need them; measures (depth, coverage, the raw sum
# with its headroom, motion in pixels) as floats.
_SINGLE = {
    "coverage": (LAYER_COVERAGE, "Y", EXR_FLOAT),
    "raw": (LAYER_RAW, "RGB", EXR_FLOAT),
    "depth": (LAYER_DEPTH, "Z", EXR_FLOAT),
    "forward": (LAYER_FORWARD, "uv", EXR_FLOAT),
    "backward": (LAYER_BACKWARD, "uv", EXR_FLOAT),
    "emission": (LAYER_EMISSION, "RGB", EXR_HALF),
    "ambient": (LAYER_AMBIENT, "RGB", EXR_HALF),
}
_LIGHT = re.compile(r"light([1-9][0-9]{0,6})")


def _kind_of(name):
    """(kind, light index) of one layer's name as render() returns it; None for another name."""
    if name in _SINGLE:
        return _SINGLE[name][0], 0
    match = _LIGHT.fullmatch(name)
    return (LAYER_LIGHT, int(match.group(1)) - 1) if match else None


def plan(names, light_count):
    """The layers `names` ask for, each once, in order: a list of (name, kind, light index).
    "motion" stands for forward and backward, "lights" for light1 .. light<light_count>.
    EmberkitError for a name that is no layer's and for "lights" without lights; the library
    itself refuses what the look lacks and lights beyond those given."""
    if isinstance(names, str):
        raise TypeError("layers must be a list of names, not a string")
    planned = []
    for name in names:
        if name == "motion":
            expanded = ["forward", "backward"]
        elif name == "lights":
            if light_count == 0:
                raise EmberkitError("layer lights: the render has no lights")
            expanded = ["light%d" % (i + 1) for i in range(light_count)]
        else:
            expanded = [name]
        for layer in expanded:
            kind = _kind_of(layer) if isinstance(layer, str) else None
            if kind is None:
                raise EmberkitError("unknown layer %r (layers: %s)" % (layer, LAYER_NAMES))
            if all(layer != known for known, _, _ in planned):
                planned.append((layer, *kind))
    return planned


class LayerRecord(ctypes.Structure):
    """One layer a render is asked for, laid out as the header's EKLayer."""

    _fields_ = [
        ("kind", ctypes.c_int32),
        ("light", ctypes.c_int32),
        ("pixels", ctypes.POINTER(ctypes.c_float)),
    ]


class ExrChannel(ctypes.Structure):
    """One channel of a layered EXR file, laid out as the header's EKExrChannel."""

    _fields_ = [
        ("name", ctypes.c_char_p),
        ("type", ctypes.c_int32),
        ("pixelStride", ctypes.c_int32),
        ("pixels", ctypes.POINTER(ctypes.c_float)),
        ("rowStride", ctypes.c_int64),
    ]


def channels_of(name):
    """(channel names, sample type) a layer's pixels are stored under in a layered EXR file:
    "Z" for depth, "<layer>.<letter>" for the others, as ekrender writes them."""
    kind = _kind_of(name)
    if kind is None:
        raise EmberkitError("unknown layer %r (layers: %s)" % (name, LAYER_NAMES))
    if kind[0] == LAYER_LIGHT:
        return ["%s.%s" % (name, letter) for letter in "RGB"], EXR_HALF
    _, letters, sample_type = _SINGLE[name]
    if kind[0] == LAYER_DEPTH:
        return list(letters), sample_type
    return ["%s.%s" % (name, letter) for letter in letters], sample_type


def compression_code(compression):
    if compression not in _COMPRESSIONS:
        raise ValueError('compression must be "zip" or "none", not %r' % (compression,))
    return _COMPRESSIONS[compression]
