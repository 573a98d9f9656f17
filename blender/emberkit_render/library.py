"""Finds the emberkit Python package: the copy packed beside this add-on, else one on sys.path."""

import importlib
import os
import sys

_PACKED_DIR = os.path.join(os.path.dirname(__file__), "lib")


class LibraryUnavailable(Exception):
    pass


def load():
    """Returns the emberkit module, or raises LibraryUnavailable saying why it could not load."""
    if os.path.isdir(os.path.join(_PACKED_DIR, "emberkit")) and _PACKED_DIR not in sys.path:
        sys.path.insert(0, _PACKED_DIR)
    try:
        return importlib.import_module("emberkit")
    except ImportError as error:
        raise LibraryUnavailable(f"emberkit could not be loaded: {error}") from error
    except OSError as error:
        raise LibraryUnavailable(f"the emberkit library could not be loaded: {error}") from error
