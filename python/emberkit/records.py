"""The renderer's request records, laid out exactly as the C header lays them out.

Constructors start from ekrender's defaults, take overrides by field name, and accept any
three numbers (a tuple, a list, a numpy array) for vector and colour fields.
"""

import ctypes

import numpy as np

__all__ = [
    "V3", "Camera", "RenderSettings", "Light", "brightness_for", "LIGHT_PER_PIXEL",
    "PROJECTION_PERSPECTIVE", "PROJECTION_SPHERICAL", "MODE_ADDITIVE", "MODE_VOLUMETRIC",
    "MERGE_OFF", "MERGE_LINEAR", "MERGE_POWER", "LIGHT_POINT", "LIGHT_SPOT", "LIGHT_DIRECTIONAL",
    "FALLOFF_NONE", "FALLOFF_INVERSE_SQUARE", "FALLOFF_INVERSE_SQUARE_CLAMPED", "FALLOFF_INVERSE",
    "FALLOFF_INVERSE_CLAMPED", "FALLOFF_RAMP", "FALLOFF_STEP",
]  # fmt: skip

PROJECTION_PERSPECTIVE = 0
PROJECTION_SPHERICAL = 1
MODE_ADDITIVE = 0
MODE_VOLUMETRIC = 1
MERGE_OFF = 0
MERGE_LINEAR = 1
MERGE_POWER = 2
LIGHT_POINT = 0
LIGHT_SPOT = 1
LIGHT_DIRECTIONAL = 2
FALLOFF_NONE = 0
FALLOFF_INVERSE_SQUARE = 1
FALLOFF_INVERSE_SQUARE_CLAMPED = 2
FALLOFF_INVERSE = 3
FALLOFF_INVERSE_CLAMPED = 4
FALLOFF_RAMP = 5
FALLOFF_STEP = 6

# ekrender spreads this much light over each pixel at brightness 1.
LIGHT_PER_PIXEL = 0.15


class V3(ctypes.Structure):
    _fields_ = [("x", ctypes.c_float), ("y", ctypes.c_float), ("z", ctypes.c_float)]

    def __iter__(self):
        return iter((self.x, self.y, self.z))

    def __repr__(self):
        return "V3(%g, %g, %g)" % (self.x, self.y, self.z)


def _three_floats(name, value):
    try:
        values = [float(v) for v in value]
    except (TypeError, ValueError):
        raise TypeError("%s needs three numbers, got %r" % (name, value)) from None
    if len(values) != 3:
        raise TypeError("%s needs three numbers, got %d" % (name, len(values)))
    return values


class _Record(ctypes.Structure):
    """A record whose constructor applies `_defaults_`, then the keyword overrides."""

    _defaults_ = {}

    def __init__(self, **fields):
        super().__init__()
        known = {name for name, _ in self._fields_}
        unknown = sorted(set(fields) - known)
        if unknown:
            raise TypeError("%s has no field %s" % (type(self).__name__, ", ".join(unknown)))
        for name, value in {**self._defaults_, **fields}.items():
            setattr(self, name, value)

    def __setattr__(self, name, value):
        kind = dict(self._fields_).get(name)
        if kind is V3 and not isinstance(value, V3):
            value = V3(*_three_floats(name, value))
        elif kind is not None and issubclass(kind, ctypes.Array):
            value = kind(*_three_floats(name, value))
        super().__setattr__(name, value)

    def __repr__(self):
        parts = []
        for name, _ in self._fields_:
            value = getattr(self, name)
            if isinstance(value, ctypes.Array):
                value = list(value)
            parts.append("%s=%r" % (name, value))
        return "%s(%s)" % (type(self).__name__, ", ".join(parts))


class Camera(_Record):
    _fields_ = [
        ("eye", V3),
        ("target", V3),
        ("up", V3),
        ("fovY", ctypes.c_float),
        ("focusDistance", ctypes.c_float),
        ("aperture", ctypes.c_float),
        ("projection", ctypes.c_int32),
        ("lonMin", ctypes.c_float),
        ("lonMax", ctypes.c_float),
        ("latMin", ctypes.c_float),
        ("latMax", ctypes.c_float),
        ("eyeOffset", ctypes.c_float),
        ("zeroParallaxDistance", ctypes.c_float),
        ("stereoPivotOffset", ctypes.c_float),
        ("topMergeMode", ctypes.c_int32),
        ("bottomMergeMode", ctypes.c_int32),
        ("topMergeAngle", ctypes.c_float),
        ("bottomMergeAngle", ctypes.c_float),
        ("topMergeExponent", ctypes.c_float),
        ("bottomMergeExponent", ctypes.c_float),
    ]
    _defaults_ = {
        "up": (0, 1, 0),
        "fovY": 45,
        "lonMin": -180,
        "lonMax": 180,
        "latMin": -90,
        "latMax": 90,
        "topMergeExponent": 1,
        "bottomMergeExponent": 1,
    }


class RenderSettings(_Record):
    _fields_ = [
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("brightness", ctypes.c_float),
        ("exposure", ctypes.c_float),
        ("repopulation", ctypes.c_int32),
        ("radius", ctypes.c_float),
        ("samples", ctypes.c_int32),
        ("shutter", ctypes.c_float),
        ("seed", ctypes.c_uint32),
        ("mode", ctypes.c_int32),
        ("density", ctypes.c_float),
        ("emission", ctypes.c_float),
        ("ambient", ctypes.c_float * 3),
        ("scattering", ctypes.c_float),
        ("shadowMapSize", ctypes.c_int32),
        ("shadowSlices", ctypes.c_int32),
        ("cameraSlices", ctypes.c_int32),
    ]
    _defaults_ = {
        "width": 1920,
        "height": 1080,
        "brightness": 1,
        "exposure": 1,
        "radius": 1,
        "samples": 1,
        "seed": 1,
        "mode": MODE_ADDITIVE,
        "density": 1,
        "emission": 0.05,
        "ambient": (0.05, 0.05, 0.06),
        "shadowMapSize": 512,
        "shadowSlices": 64,
        "cameraSlices": 32,
    }


class Light(_Record):
    _fields_ = [
        ("type", ctypes.c_int32),
        ("position", V3),
        ("direction", V3),
        ("color", ctypes.c_float * 3),
        ("outerAngle", ctypes.c_float),
        ("innerAngle", ctypes.c_float),
        ("falloff", ctypes.c_int32),
        ("falloffRadius", ctypes.c_float),
        ("falloffInner", ctypes.c_float),
        ("castsShadows", ctypes.c_int32),
    ]
    _defaults_ = {
        "type": LIGHT_POINT,
        "direction": (0, -1, 0),
        "color": (1, 1, 1),
        "outerAngle": 60,
        "innerAngle": 45,
        "falloff": FALLOFF_NONE,
        "castsShadows": 1,
    }


def brightness_for(width, height, particles, repopulation=0, brightness=1.0):
    """The per-particle brightness ekrender renders with: `brightness` times LIGHT_PER_PIXEL of
    light per pixel, spread over every particle copy, so that the image's overall level does not
    depend on the image size or the particle count. Computed in the same float precision as
    ekrender, so both give the same image."""
    spread = (
        np.float32(LIGHT_PER_PIXEL) * np.float32(brightness) * np.float32(width) * np.float32(height)
    )
    copies = float(repopulation + 1) * float(particles)
    return float(np.float32(float(spread) / (copies if copies > 0 else 1.0)))
