"""emberkit: the particle renderer from Python, over its flat C interface (ctypes + numpy).

The library is looked for at EMBERKIT_LIBRARY, then beside this package, then among the
system's libraries; importing fails with ImportError naming each place when none is usable.
"""

from ._library import REQUIRED_API_VERSION, lib as _lib, library_path
from .context import Context
from .errors import EmberkitError, ImageWriteError
from .records import *  # noqa: F401,F403 (the records and the header's constants)
from .records import brightness_for
from .writers import save_exr, save_png


def api_version():
    """The interface version of the loaded library."""
    return _lib.ekApiVersion()
