"""Renders through the engine: where a point lands, and what a command-line run writes or refuses."""

import os
import subprocess

import bpy
import numpy as np
import pytest
from bpy_extras.object_utils import world_to_camera_view
from emberkit_render.engine import render_image
from mathutils import Vector

import scenes

POINT = (1.2, 0.7, -0.5)


def expected_pixel(scene, point, size):
    """(column, row from the top) of the pixel Blender's camera puts `point` on."""
    depsgraph = scenes.depsgraph_at(scene, scene.frame_current)
    view = world_to_camera_view(scene, scene.camera.evaluated_get(depsgraph), Vector(point))
    return int(view.x * size[0]), int((1.0 - view.y) * size[1])


def brightest_pixel(image_top_first):
    luminance = image_top_first[..., :3].sum(axis=2)
    row, column = np.unravel_index(np.argmax(luminance), luminance.shape)
    return int(column), int(row)


def point_scene(size, sensor_fit="AUTO"):
    scene = scenes.new_scene(size=size)
    scenes.aim(scene.camera, location=(3.0, -9.0, 2.0), look_at=(0.3, 0.0, 0.4))
    scene.camera.data.sensor_fit = sensor_fit
    scenes.add_mesh(scene, [POINT])
    scene.view_settings.view_transform = "Standard"
    return scene


@pytest.mark.parametrize(
    "size, sensor_fit",
    [((160, 90), "AUTO"), ((90, 160), "AUTO"), ((160, 90), "VERTICAL"), ((90, 160), "HORIZONTAL")],
)
def test_point_lands_on_the_pixel_blenders_camera_gives(size, sensor_fit):
    scene = point_scene(size, sensor_fit)
    notes = []
    image = render_image(scenes.depsgraph_at(scene, 1), scene.camera, *size, notes)

    assert image.shape == (size[1], size[0], 4)
    column, row = brightest_pixel(image)
    expected_column, expected_row = expected_pixel(scene, POINT, size)
    assert abs(column - expected_column) <= 1 and abs(row - expected_row) <= 1


def _save(scene, tmp_path):
    path = str(tmp_path / "scene.blend")
    bpy.ops.wm.save_as_mainfile(filepath=path, copy=True)
    return path


def _blender(blend, scene, *arguments, environment=None):
    env = dict(os.environ)
    env.update(environment or {})
    command = [bpy.app.binary_path, "-b", "--factory-startup", "--addons", "emberkit_render", blend, "-S", scene.name]
    return subprocess.run(command + list(arguments), env=env, capture_output=True, text=True, timeout=120)


def test_animation_writes_every_frame_bottom_row_first(tmp_path):
    size = (120, 80)
    scene = point_scene(size)
    blend = _save(scene, tmp_path)

    run = _blender(blend, scene, "-o", str(tmp_path / "frame_####"), "-F", "PNG", "-s", "1", "-e", "3", "-a")

    assert run.returncode == 0, run.stdout + run.stderr
    written = sorted(name for name in os.listdir(tmp_path) if name.startswith("frame_"))
    assert written == ["frame_0001.png", "frame_0002.png", "frame_0003.png"]
    image = bpy.data.images.load(str(tmp_path / "frame_0002.png"))
    pixels = np.empty(size[0] * size[1] * 4, np.float32)
    image.pixels.foreach_get(pixels)
    top_first = pixels.reshape(size[1], size[0], 4)[::-1]
    column, row = brightest_pixel(top_first)
    expected_column, expected_row = expected_pixel(scene, POINT, size)
    assert abs(column - expected_column) <= 1 and abs(row - expected_row) <= 1


@pytest.mark.parametrize("fault", ["orthographic camera", "library missing", "no points"])
def test_a_failure_exits_non_zero_and_writes_no_frame(tmp_path, fault):
    scene = point_scene((64, 48))
    environment = {}
    if fault == "orthographic camera":
        scene.camera.data.type = "ORTHO"
        expected = "orthographic"
    elif fault == "library missing":
        environment["EMBERKIT_LIBRARY"] = str(tmp_path / "missing" / "libemberkit.so")
        expected = "could not be loaded"
    else:
        for obj in scene.collection.objects:
            obj.emberkit_points = False
        expected = "nothing to render"
    blend = _save(scene, tmp_path)

    run = _blender(blend, scene, "-o", str(tmp_path / "frame_####"), "-F", "PNG", "-f", "1", environment=environment)

    assert run.returncode != 0
    assert expected in run.stdout + run.stderr
    assert not [name for name in os.listdir(tmp_path) if name.startswith("frame_")]


@pytest.mark.parametrize("blur", ["depth of field", "motion blur"])
def test_lens_and_shutter_blur_spread_the_point(blur):
    size = (96, 64)
    scene = point_scene(size)
    if blur == "depth of field":
        scene.camera.data.dof.use_dof = True
        scene.camera.data.dof.focus_distance = 2.0  # the point is about 9 units away
        scene.camera.data.dof.aperture_fstop = 0.5
    else:
        scenes.add_point_attribute(next(o for o in scene.objects if o.type == "MESH"), "velocity", "FLOAT_VECTOR", [(0, 0, 48)], "vector")
        scene.render.use_motion_blur = True
        scene.render.motion_blur_shutter = 1.0
    depsgraph = scenes.depsgraph_at(scene, 1)

    blurred_peak = render_image(depsgraph, scene.camera, *size, [])[..., :3].sum(axis=2).max()
    if blur == "depth of field":
        scene.camera.data.dof.use_dof = False
    else:
        scene.render.use_motion_blur = False
    depsgraph = scenes.depsgraph_at(scene, 1)
    still_peak = render_image(depsgraph, scene.camera, *size, [])[..., :3].sum(axis=2).max()

    assert blurred_peak < 0.5 * still_peak
