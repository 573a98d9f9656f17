import os
import pathlib
import shutil
import subprocess
import sys

import pytest

PACKAGE_ROOT = pathlib.Path(__file__).resolve().parents[1]
REPOSITORY_ROOT = PACKAGE_ROOT.parent
HEADER = REPOSITORY_ROOT / "renderer" / "emberkit.h"

sys.path.insert(0, str(PACKAGE_ROOT))


def c_compiler():
    """The system's C compiler, or None."""
    for name in (os.environ.get("CC"), "cc", "gcc", "clang"):
        if name and shutil.which(name):
            return shutil.which(name)
    return None


@pytest.fixture
def compile_c(tmp_path):
    """Compiles C source into an executable or a shared library; skips without a compiler."""
    compiler = c_compiler()
    if compiler is None:
        pytest.skip("no C compiler (cc, gcc or clang) to build the test's helper")

    def build(source, name, shared=False):
        source_file = tmp_path / (name + ".c")
        source_file.write_text(source)
        output = tmp_path / name
        command = [compiler, "-I", str(HEADER.parent), str(source_file), "-o", str(output)]
        if shared:
            command[1:1] = ["-shared", "-fPIC"]
        subprocess.run(command, check=True)
        return output

    return build


def run_python(code, **environment):
    """Runs `code` in a fresh interpreter that finds the package; variables set to None are
    removed from its environment."""
    env = dict(os.environ, PYTHONPATH=str(PACKAGE_ROOT))
    for name, value in environment.items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = str(value)
    return subprocess.run(
        [sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=60
    )
