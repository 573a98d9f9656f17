"""A multi-layer file written by `ekrender --layers`, loaded by Blender as a multilayer image: its
layers are the passes a compositor's Image node offers."""

import os
import subprocess

import bpy
import numpy as np
import pytest

SIZE = (48, 32)


@pytest.fixture
def ekrender():
    path = os.environ.get("EKRENDER")
    if not path:
        pytest.skip("EKRENDER does not name the ekrender program (run.sh sets it)")
    return path


def _particle_ring(path):
    """A ring of 60 particles moving up, which ekrender frames in the middle of its picture."""
    with open(path, "w") as csv:
        csv.write("x,y,z,r,g,b,vx,vy,vz\n")
        for k in range(60):
            angle = 2 * np.pi * k / 60
            csv.write(f"{10 * np.cos(angle):.4f},{10 * np.sin(angle):.4f},0,250,160,60,0,1,0\n")


def test_blender_finds_every_layer_of_an_ekrender_file_as_a_pass(ekrender, tmp_path):
    _particle_ring(tmp_path / "ring.csv")
    output = tmp_path / "layers.exr"
    command = [
        ekrender, "--device", "cpu", "--input", str(tmp_path / "ring.csv"), "--output", str(output),
        "--size", "%dx%d" % SIZE, "--radius", "0.5", "--volumetric",
        "--light", "point:pos=0,20,20", "--light", "directional:dir=0,-1,0",
        "--layers", "depth,motion,emission,ambient,lights,coverage",
    ]  # fmt: skip
    run = subprocess.run(command, capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stdout + run.stderr

    image = bpy.data.images.load(str(output))
    scene = bpy.data.scenes.new("compositing")
    scene.use_nodes = True
    node = scene.node_tree.nodes.new("CompositorNodeImage")
    node.image = image  # reads the file, which tells Blender what kind of image it is
    assert image.type == "MULTILAYER"
    passes = {output.name: output.type for output in node.outputs if output.enabled}
    # The beauty is Combined (with its Alpha), the bare Z is Depth, and each "<layer>.<letter>"
    # group is the pass named before the dot: one letter a single value, more a colour (the
    # motion layers' u and v too).
    assert passes == {
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
