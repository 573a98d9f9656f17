"""emberkit: the particle renderer from Python, over its flat C interface (ctypes + numpy).

The library is looked for at EMBERKIT_LIBRARY, then beside this package, then among the
system's libraries; importing fails with ImportError naming each place when none is usable.
"""

from . import records as _records
from ._library import REQUIRED_API_VERSION, lib as _lib, library_path
from .context import Context
from .errors import EmberkitError, ImageWriteError
from .records import *  # noqa: F401,F403 (the records, brightness_for and the header's constants)
from .writers import save_exr, save_layered_exr, save_png

__all__ = [
    "REQUIRED_API_VERSION", "library_path", "api_version", "Context", "EmberkitError",
    "ImageWriteError", "save_exr", "save_layered_exr", "save_png",
] + _records.__all__  # fmt: skip


def api_version():
    """The interface version of the loaded library."""
    return _lib.ekApiVersion()
