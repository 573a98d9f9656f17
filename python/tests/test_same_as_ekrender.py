"""The package and ekrender, given the same particles, camera and settings, write the same files."""

import os
import subprocess

import numpy as np
import pytest

import emberkit

WIDTH, HEIGHT = 96, 54
EYE, TARGET, UP, FOV = (0.5, 1.5, 6.0), (0.0, 0.25, 0.0), (0.0, 1.0, 0.0), 40.0


@pytest.fixture
def ekrender():
    path = os.environ.get("EKRENDER")
    if not path or not os.path.isfile(path):
        pytest.skip("EKRENDER does not name the ekrender program")
    return path


def cloud(n=2000):
    generator = np.random.default_rng(7)
    positions = generator.normal(0, 1, (n, 3)).astype(np.float32)
    colors = generator.integers(0, 256, (n, 4), dtype=np.uint8)
    colors[0] = 255  # a value above 1, so that ekrender reads the colours as bytes
    return positions, colors


def write_csv(path, positions, colors):
    # repr of each float32 value, widened to a double, reads back as the same float32.
    rows = [
        ",".join([repr(float(v)) for v in p] + [str(int(c)) for c in rgba])
        for p, rgba in zip(positions, colors)
    ]
    path.write_text("x,y,z,red,green,blue,alpha\n" + "\n".join(rows) + "\n")


def vector(values):
    return ",".join(repr(v) for v in values)


@pytest.mark.parametrize("extension", ["png", "exr"])
def test_same_file_as_ekrender(ekrender, tmp_path, extension):
    positions, colors = cloud()
    csv = tmp_path / "cloud.csv"
    write_csv(csv, positions, colors)
    theirs = tmp_path / ("ekrender." + extension)
    subprocess.run(
        [ekrender, "--device", "cpu", "--input", str(csv), "--output", str(theirs),
         "--size", "%dx%d" % (WIDTH, HEIGHT), "--eye", vector(EYE), "--target", vector(TARGET),
         "--up", vector(UP), "--fov", repr(FOV), "--transparent"],
        check=True, capture_output=True,
    )

    with emberkit.Context("cpu") as context:
        context.upload(positions, colors)
        camera = emberkit.Camera(eye=EYE, target=TARGET, up=UP, fovY=FOV)
        brightness = emberkit.brightness_for(WIDTH, HEIGHT, len(positions))
        settings = emberkit.RenderSettings(width=WIDTH, height=HEIGHT, brightness=brightness)
        image = context.render(camera, settings)
    ours = tmp_path / ("emberkit." + extension)
    (emberkit.save_png if extension == "png" else emberkit.save_exr)(ours, image)

    assert image.any()
    assert ours.read_bytes() == theirs.read_bytes()
