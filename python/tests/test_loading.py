"""Where the package looks for the library, and what it says when none is usable."""

import ctypes.util
import os
import re
import shutil

import pytest

import emberkit
from conftest import HEADER, PACKAGE_ROOT, run_python

OLD_LIBRARY = "int ekApiVersion(void) { return %d; }\n" % (emberkit.REQUIRED_API_VERSION - 1)


def test_loads_the_library_the_environment_names():
    result = run_python("import emberkit; print(emberkit.library_path, emberkit.api_version())")
    assert result.returncode == 0, result.stderr
    path, version = result.stdout.split()
    assert path == os.environ["EMBERKIT_LIBRARY"]
    assert int(version) >= emberkit.REQUIRED_API_VERSION


def test_a_library_beside_the_package_is_found(tmp_path):
    shutil.copytree(PACKAGE_ROOT / "emberkit", tmp_path / "emberkit")
    beside = tmp_path / "emberkit" / os.path.basename(emberkit.library_path)
    shutil.copy(emberkit.library_path, beside)
    result = run_python(
        "import emberkit; print(emberkit.library_path)", EMBERKIT_LIBRARY=None, PYTHONPATH=tmp_path
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == str(beside)


def test_a_missing_library_names_the_path(tmp_path):
    missing = tmp_path / "libemberkit.so"
    result = run_python("import emberkit", EMBERKIT_LIBRARY=missing)
    assert "ImportError" in result.stderr
    assert "EMBERKIT_LIBRARY=%s" % missing in result.stderr


def test_an_older_library_is_refused_with_its_version(compile_c):
    old = compile_c(OLD_LIBRARY, "libold.so", shared=True)
    result = run_python("import emberkit", EMBERKIT_LIBRARY=old)
    assert "ImportError" in result.stderr
    assert "%s has interface version %d" % (old, emberkit.REQUIRED_API_VERSION - 1) in result.stderr


def test_without_the_variable_every_place_is_named():
    if ctypes.util.find_library("emberkit"):
        pytest.skip("a system-wide emberkit library is installed")
    if (PACKAGE_ROOT / "emberkit" / "libemberkit.so").exists():
        pytest.skip("a library lies beside the package")
    result = run_python("import emberkit", EMBERKIT_LIBRARY=None)
    assert "ImportError" in result.stderr
    for place in ("EMBERKIT_LIBRARY (not set)", "beside the package: %s" % PACKAGE_ROOT, "system"):
        assert place in result.stderr


def test_every_function_of_the_header_has_its_types():
    """Untyped functions take and return C int, which cuts handles and counts short."""
    if not HEADER.is_file():
        pytest.skip("the header %s is not there" % HEADER)
    declared = set(re.findall(r"EK_API [^;]*?\b(ek\w+)\(", HEADER.read_text()))
    assert declared and declared <= set(emberkit._library._SIGNATURES)
    for name in declared:
        function = getattr(emberkit._lib, name)
        assert function.argtypes is not None, name
