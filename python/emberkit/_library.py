"""Finding and loading the renderer library, and the signature of every function it exports.

ctypes assumes int for any result and argument it is not told about, which would cut the 64-bit
context handle and the uint64 counts short, so every function gets its full types here.
"""

import ctypes
import ctypes.util
import os
import sys

from . import records

# The interface version this package is written against; an older library lacks what it calls.
REQUIRED_API_VERSION = 7

ENVIRONMENT_VARIABLE = "EMBERKIT_LIBRARY"

_FILE_NAMES = {"win32": "emberkit.dll", "darwin": "libemberkit.dylib"}


def _bundled_path():
    """The library as packed beside this package's modules."""
    name = _FILE_NAMES.get(sys.platform, "libemberkit.so")
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), name)


def _candidates():
    """(description, path or None) for each place looked, in order. A library named through the
    environment is the only candidate: a wrong setting must not quietly load another library."""
    explicit = os.environ.get(ENVIRONMENT_VARIABLE)
    if explicit:
        return [("%s=%s" % (ENVIRONMENT_VARIABLE, explicit), explicit)]
    bundled = _bundled_path()
    system = ctypes.util.find_library("emberkit")
    return [
        ("%s (not set)" % ENVIRONMENT_VARIABLE, None),
        ("beside the package: %s" % bundled, bundled if os.path.isfile(bundled) else None),
        ("the system's libraries: %s" % (system or "no library named emberkit"), system),
    ]


_CONTEXT = ctypes.c_void_p
_V3_POINTER = ctypes.POINTER(records.V3)
_FLOAT_POINTER = ctypes.POINTER(ctypes.c_float)
_BYTE_POINTER = ctypes.POINTER(ctypes.c_uint8)

# What ekRender and ekRenderLayers both take first (context, camera, settings, lights, light
# count) and last (the 8-bit image, the float image, the GPU time).
_RENDER_SCENE = [
    _CONTEXT,
    ctypes.POINTER(records.Camera),
    ctypes.POINTER(records.RenderSettings),
    ctypes.POINTER(records.Light),
    ctypes.c_int32,
]
_RENDER_IMAGES = [_BYTE_POINTER, _FLOAT_POINTER, _FLOAT_POINTER]

_SIGNATURES = {
    "ekApiVersion": (ctypes.c_int32, []),
    "ekCreate": (_CONTEXT, [ctypes.c_int32]),
    "ekDestroy": (None, [_CONTEXT]),
    "ekLastError": (ctypes.c_char_p, [_CONTEXT]),
    "ekDeviceInfo": (ctypes.c_int32, [_CONTEXT, ctypes.c_char_p, ctypes.c_int32]),
    "ekGetCount": (ctypes.c_uint64, [_CONTEXT]),
    "ekReserve": (ctypes.c_int32, [_CONTEXT, ctypes.c_uint64, ctypes.c_int32]),
    "ekUpload": (
        ctypes.c_int32,
        [_CONTEXT, _V3_POINTER, _BYTE_POINTER, _V3_POINTER, ctypes.c_uint64, ctypes.c_uint64],
    ),
    "ekSetCount": (ctypes.c_int32, [_CONTEXT, ctypes.c_uint64]),
    "ekGenerateTestCloud": (
        ctypes.c_int32,
        [_CONTEXT, ctypes.c_uint64, ctypes.c_uint32, ctypes.c_int32],
    ),
    "ekRender": (ctypes.c_int32, _RENDER_SCENE + _RENDER_IMAGES),
    "ekLayerChannels": (ctypes.c_int32, [ctypes.c_int32]),
    # The layer list goes as a plain address: an array of EKLayer records (int32 kind, int32 light,
    # float pointer) that the caller lays out.
    "ekRenderLayers": (
        ctypes.c_int32,
        _RENDER_SCENE + [ctypes.c_void_p, ctypes.c_int32] + _RENDER_IMAGES,
    ),
    "ekSaveEXR": (
        ctypes.c_int32,
        [ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32, _FLOAT_POINTER],
    ),
    "ekSavePNG": (
        ctypes.c_int32,
        [ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32, _FLOAT_POINTER, ctypes.c_int32],
    ),
    "ekPngSizeSupported": (ctypes.c_int32, [ctypes.c_int32, ctypes.c_int32, ctypes.c_int32]),
    "ekLastWriteError": (ctypes.c_int32, []),
    # The channel list goes as a plain address: an array of EKExrChannel records that the caller
    # lays out; the two camera matrices are 16 floats each or null.
    "ekSaveLayeredEXR": (
        ctypes.c_int32,
        [
            ctypes.c_char_p,
            ctypes.c_int32,
            ctypes.c_int32,
            ctypes.c_void_p,
            ctypes.c_int32,
            ctypes.c_int32,
            _FLOAT_POINTER,
            _FLOAT_POINTER,
        ],
    ),
}


def _typed(library, path):
    """Checks the version and gives every function its signature; the reason it cannot, or None."""
    try:
        version_function = library.ekApiVersion
    except AttributeError:
        return "%s has no ekApiVersion: not an emberkit library" % path
    version_function.restype, version_function.argtypes = _SIGNATURES["ekApiVersion"]
    version = version_function()
    if version < REQUIRED_API_VERSION:
        return "%s has interface version %d; this package needs %d or newer" % (
            path,
            version,
            REQUIRED_API_VERSION,
        )
    for name, (restype, argtypes) in _SIGNATURES.items():
        try:
            function = getattr(library, name)
        except AttributeError:
            return "%s lacks %s" % (path, name)
        function.restype, function.argtypes = restype, argtypes
    return None


def load():
    """(library, path) of the first usable library; ImportError naming every place looked."""
    looked = []
    for description, path in _candidates():
        if path is None:
            looked.append(description)
            continue
        try:
            library = ctypes.CDLL(path)
        except OSError as error:
            looked.append("%s: %s" % (description, error))
            continue
        problem = _typed(library, path)
        if problem is None:
            return library, path
        looked.append("%s: %s" % (description, problem))
    raise ImportError(
        "emberkit: no usable renderer library. Looked at:\n  "
        + "\n  ".join(looked)
        + "\nSet %s to the path of libemberkit." % ENVIRONMENT_VARIABLE
    )


lib, library_path = load()
