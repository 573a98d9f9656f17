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


# What C's _Generic says of each field's type; a float[3] decays to a float pointer.
C_KINDS = (
    '_Generic((x), float: "float", int32_t: "int32", uint32_t: "uint32", EKV3: "EKV3", '
    'float *: "float[3]", default: "other")'
)
PYTHON_KINDS = {
    ctypes.c_float: "float",
    ctypes.c_int32: "int32",
    ctypes.c_uint32: "uint32",
    emberkit.V3: "EKV3",
    ctypes.c_float * 3: "float[3]",
}


def test_layouts_match_the_header(compile_c):
    """Size of each record; offset and type of each field, as the system's C compiler sees the
    header. A field missing from or added to a record, or spelt differently, shows too."""
    if not HEADER.is_file():
        pytest.skip("the header %s is not there" % HEADER)
    lines = [
        "#include <stddef.h>",
        "#include <stdio.h>",
        '#include "emberkit.h"',
        "#define KIND(x) " + C_KINDS,
        "int main(void) {",
    ]
    expected = []
    for c_name, record in RECORDS.items():
        lines.append('printf("%s %%zu\\n", sizeof(%s));' % (c_name, c_name))
        expected.append("%s %d" % (c_name, ctypes.sizeof(record)))
        lines.append("{ %s record = {0};" % c_name)
        for field, kind in record._fields_:
            lines.append(
                'printf("%s.%s %%zu %%s\\n", offsetof(%s, %s), KIND(record.%s));'
                % (c_name, field, c_name, field, field)
            )
            offset = getattr(record, field).offset
            expected.append("%s.%s %d %s" % (c_name, field, offset, PYTHON_KINDS[kind]))
        lines.append("}")
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
