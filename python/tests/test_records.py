import ctypes
import re
import subprocess

import pytest

import emberkit
from conftest import HEADER

RECORDS = {
    "EKV3": emberkit.V3,
    "EKCamera": emberkit.Camera,
    "EKRenderSettings": emberkit.RenderSettings,
    "EKLight": emberkit.Light,
}


def test_layouts_match_the_header(compile_c):
    """Sizes and offsets of every field, as the system's C compiler lays the header out."""
    if not HEADER.is_file():
        pytest.skip("the header %s is not there" % HEADER)
    lines = ["#include <stddef.h>", "#include <stdio.h>", '#include "emberkit.h"', "int main(void) {"]
    expected = []
    for c_name, record in RECORDS.items():
        lines.append('printf("%%s %%zu\\n", "%s", sizeof(%s));' % (c_name, c_name))
        expected.append("%s %d" % (c_name, ctypes.sizeof(record)))
        for field, _ in record._fields_:
            lines.append(
                'printf("%%s.%%s %%zu\\n", "%s", "%s", offsetof(%s, %s));'
                % (c_name, field, c_name, field)
            )
            expected.append("%s.%s %d" % (c_name, field, getattr(record, field).offset))
    lines += ["return 0;", "}"]
    program = compile_c("\n".join(lines), "layout")
    printed = subprocess.run([str(program)], check=True, capture_output=True, text=True).stdout
    assert printed.split("\n")[:-1] == expected


def test_constants_match_the_header():
    if not HEADER.is_file():
        pytest.skip("the header %s is not there" % HEADER)
    defined = dict(re.findall(r"#define EK_(\w+) \(?(-?\d+)\)?", HEADER.read_text()))
    prefixes = ("MODE_", "PROJECTION_", "LIGHT_", "FALLOFF_", "MERGE_")
    named = [n for n in defined if n.startswith(prefixes)]
    assert named, "no constants found in the header"
    for name in named:
        assert getattr(emberkit, name) == int(defined[name]), name


def test_fields_take_sequences_and_refuse_unknown_names():
    camera = emberkit.Camera(eye=[1, 2, 3], fovY=30)
    assert (tuple(camera.eye), camera.fovY, tuple(camera.up)) == ((1, 2, 3), 30, (0, 1, 0))
    settings = emberkit.RenderSettings(ambient=(0.5, 0.25, 0))
    assert list(settings.ambient) == [0.5, 0.25, 0]
    with pytest.raises(TypeError, match="fov"):
        emberkit.Camera(fov=30)
    with pytest.raises(TypeError, match="eye"):
        emberkit.Camera(eye=(1, 2))
