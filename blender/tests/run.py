"""Runs the add-on's tests inside Blender:
    blender -b --factory-startup --python-exit-code 1 --python blender/tests/run.py
with BLENDER_USER_SCRIPTS holding addons/emberkit_render, the emberkit package importable
(PYTHONPATH), EMBERKIT_LIBRARY naming the library and EKRENDER the ekrender program (the test of
its files is skipped without it). Arguments after "--" go to pytest."""

import os
import sys

import addon_utils
import pytest

addon_utils.enable("emberkit_render", default_set=True, handle_error=None)
if "emberkit_render" not in {module.__name__ for module in addon_utils.modules() if addon_utils.check(module.__name__)[1]}:
    sys.exit("the emberkit_render add-on could not be enabled: is BLENDER_USER_SCRIPTS set?")

extra = sys.argv[sys.argv.index("--") + 1 :] if "--" in sys.argv else []
here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
sys.exit(pytest.main([here, "-q", "-p", "no:cacheprovider", *extra]))
