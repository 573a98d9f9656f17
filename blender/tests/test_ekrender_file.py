"""A multi-layer file written by `ekrender --layers`, loaded by Blender as a multilayer image: its
layers are the passes a compositor's Image node offers, with the values ekrender wrote."""

import os
import subprocess

import bpy
import numpy as np
import pytest

from test_passes import read_float_exr

SIZE = (48, 32)


@pytest.fixture
def ekrender():
    path = os.environ.get("EKRENDER")
    if not path:
        pytest.skip("EKRENDER does not name the ekrender program (run.sh sets it)")
    return path


def _ring(path):
    """60 particles on a circle of radius 10 about the origin in the z = 0 plane."""
    with open(path, "w") as csv:
        csv.write("x,y,z,r,g,b,vx,vy,vz\n")
        for k in range(60):
            angle = 2 * np.pi * k / 60
            csv.write(f"{10 * np.cos(angle):.4f},{10 * np.sin(angle):.4f},0,250,160,60,0,1,0\n")


class Compositor:
    """A scene whose compositor shows one output of an Image node at a time, written as a float
    EXR file: how a script reads the pixels of a multilayer image's passes."""

    def __init__(self, image, size, folder):
        self.scene = bpy.data.scenes.new("compositing")
        self.scene.render.resolution_x, self.scene.render.resolution_y = size
        self.scene.render.resolution_percentage = 100
        settings = self.scene.render.image_settings
        settings.file_format, settings.exr_codec, settings.color_depth = "OPEN_EXR", "NONE", "32"
        self.scene.use_nodes = True
        self.node = self.scene.node_tree.nodes.new("CompositorNodeImage")
        self.node.image = image  # reads the file, which tells Blender what kind of image it is
        self.composite = self.scene.node_tree.nodes.new("CompositorNodeComposite")
        self.folder = folder

    def passes(self):
        return {output.name: output.type for output in self.node.outputs if output.enabled}

    def pixels(self, name):
        """The pass's RGB (a single value repeated), float32 (height, width, 3), top row first."""
        self.scene.node_tree.links.new(self.node.outputs[name], self.composite.inputs["Image"])
        self.scene.render.filepath = str(self.folder / f"{name}.exr")
        bpy.ops.render.render(scene=self.scene.name, write_still=True)
        channels = read_float_exr(self.scene.render.filepath)
        return np.stack([channels[c] for c in "RGB"], axis=-1)


def test_blender_reads_every_layer_of_an_ekrender_file_as_a_pass(ekrender, tmp_path):
    _ring(tmp_path / "ring.csv")
    output = tmp_path / "layers.exr"
    # Seen from 30 units straight above, every particle lies 30 units down the view.
    arguments = (
        f"--device cpu --size {SIZE[0]}x{SIZE[1]} --eye 0,0,30 --target 0,0,0 --radius 0.5"
        " --volumetric --light point:pos=0,20,20 --light directional:dir=0,-1,0"
        " --layers depth,motion,emission,ambient,lights,coverage"
    )
    command = [ekrender, "--input", str(tmp_path / "ring.csv"), "--output", str(output)]
    run = subprocess.run(command + arguments.split(), capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stdout + run.stderr

    image = bpy.data.images.load(str(output))
    compositor = Compositor(image, SIZE, tmp_path)
    assert image.type == "MULTILAYER"
    # The beauty is Combined (with its Alpha), the bare Z is Depth, and each "<layer>.<letter>"
    # group is the pass named before the dot: one letter a single value, more a colour (the
    # motion layers' u and v too).
    assert compositor.passes() == {
        "Combined": "RGBA",
        "Alpha": "VALUE",
        "Depth": "VALUE",
        "forward": "RGBA",
        "backward": "RGBA",
        "emission": "RGBA",
        "ambient": "RGBA",
        "light1": "RGBA",
        "light2": "RGBA",
        "coverage": "VALUE",
    }

    combined = compositor.pixels("Combined")
    ring = combined.sum(axis=2) > 0.2 * combined.sum(axis=2).max()
    assert ring.any() and not ring[SIZE[1] // 2, SIZE[0] // 2]  # the ring's middle is empty
    depth = compositor.pixels("Depth")[..., 0]
    assert np.abs(depth[ring] - 30).max() < 1
    assert depth[SIZE[1] // 2, SIZE[0] // 2] > 1e9
    parts = sum(compositor.pixels(name) for name in ("emission", "ambient", "light1", "light2"))
    # Five colours stored as halves: the parts add up to the beauty within their rounding.
    np.testing.assert_allclose(parts, combined, rtol=4e-3, atol=4e-3 * combined.max())
