"""The passes of a command-line render (Depth, Vector, Emission and the light passes), read back
from its EXR file."""

import struct

import bpy
import numpy as np

import scenes
from emberkit_render.engine import render_image
from emberkit_render.passes import light_pass_names
from test_lights import add_light
from test_render import POINT, _blender, _save, expected_pixel, point_scene


def read_float_exr(path):
    """{channel: float32 (height, width), top row first} of an uncompressed scan-line OpenEXR file
    whose channels are all 32-bit floats, as Blender writes one with codec NONE and depth 32."""
    data = open(path, "rb").read()
    at, channels, window = 8, [], None
    while data[at] != 0:
        name_end = data.index(b"\0", at)
        type_end = data.index(b"\0", name_end + 1)
        (size,) = struct.unpack_from("<i", data, type_end + 1)
        value = data[type_end + 5 : type_end + 5 + size]
        name = data[at:name_end]
        if name == b"channels":
            cursor = 0
            while value[cursor] != 0:
                end = value.index(b"\0", cursor)
                assert struct.unpack_from("<i", value, end + 1)[0] == 2, "not a float channel"
                channels.append(value[cursor:end].decode())
                cursor = end + 17
        elif name == b"dataWindow":
            window = struct.unpack("<4i", value)
        elif name == b"compression":
            assert value == b"\0", "compressed"
        at = type_end + 5 + size
    width, height = window[2] - window[0] + 1, window[3] - window[1] + 1
    images = {name: np.empty((height, width), np.float32) for name in sorted(channels)}
    offsets = struct.unpack_from("<%dQ" % height, data, at + 1)
    for offset in offsets:
        y = struct.unpack_from("<i", data, offset)[0] - window[1]
        line = np.frombuffer(data, np.float32, width * len(images), offset + 8)
        for c, image in enumerate(images.values()):
            image[y] = line[c * width : (c + 1) * width]
    return images


def _render_passes(scene, tmp_path):
    """Renders frame 1 of `scene` on the command line into an uncompressed float multilayer EXR
    and returns its channels by name."""
    scene.render.image_settings.file_format = "OPEN_EXR_MULTILAYER"
    scene.render.image_settings.exr_codec = "NONE"
    scene.render.image_settings.color_depth = "32"
    blend = _save(scene, tmp_path)
    run = _blender(blend, scene, "-o", str(tmp_path / "frame_####"), "-f", "1")
    assert run.returncode == 0, run.stdout + run.stderr
    return read_float_exr(str(tmp_path / "frame_0001.exr"))


def test_depth_vector_and_emission_passes_hold_the_points_layers(tmp_path):
    size = (96, 64)
    scene = point_scene(size)
    mesh = next(o for o in scene.objects if o.type == "MESH")
    scenes.add_point_attribute(mesh, "velocity", "FLOAT_VECTOR", [(0, 0, 24)], "vector")
    view_layer = scene.view_layers[0]
    view_layer.use_pass_z = view_layer.use_pass_vector = view_layer.use_pass_emit = True
    images = _render_passes(scene, tmp_path)
    prefix = view_layer.name + "."
    column, row = expected_pixel(scene, POINT, size)
    combined = np.stack([images[prefix + "Combined." + c] for c in "RGB"], axis=-1)
    peak = np.unravel_index(np.argmax(combined.sum(axis=2)), combined.shape[:2])
    assert abs(peak[0] - row) <= 1 and abs(peak[1] - column) <= 1
    camera_distance = (scene.camera.matrix_world.inverted() @ scenes.Vector(POINT)).z
    assert abs(images[prefix + "Depth.Z"][peak] - -camera_distance) < 0.5
    assert images[prefix + "Depth.Z"][0, 0] >= 1e9
    emission = np.stack([images[prefix + "Emit." + c] for c in "RGB"], axis=-1)
    np.testing.assert_allclose(emission, combined, rtol=1e-5, atol=1e-6)
    # The point moves up the image (z is up in the scene): y up in Blender's speed vectors.
    vector = [images[prefix + "Vector." + c][peak] for c in "XYZW"]
    assert vector[1] > 1 and abs(vector[1] - vector[3]) < 0.1 * vector[3]
    assert abs(vector[0]) < 0.5 * vector[1] and abs(vector[2]) < 0.5 * vector[3]


def test_light_passes_with_emission_and_ambient_add_up_to_the_combined_pass(tmp_path):
    size = (80, 60)
    scene = scenes.new_scene(size=size)
    scene.emberkit.mode = "VOLUMETRIC"
    scene.emberkit.emission = 0.2
    grid = [(x / 4, y / 4, z / 4) for x in range(-2, 3) for y in range(-2, 3) for z in range(-2, 3)]
    scenes.add_mesh(scene, grid)
    # A key light left of the cloud, a sun above, and one light object instanced twice, right of
    # the cloud, through a collection the scene does not hold itself.
    add_light(scene, "POINT", location=(-1.5, -1, 0)).name = "Key"
    add_light(scene, "SUN").name = "Fill.001"  # a dot, which a pass name cannot hold
    rig = bpy.data.collections.new("rig")
    rim = bpy.data.objects.new("Rim", bpy.data.lights.new("Rim", "POINT"))
    rig.objects.link(rim)
    for z in (-0.3, 0.3):
        holder = bpy.data.objects.new(f"rig at {z}", None)
        holder.instance_type = "COLLECTION"
        holder.instance_collection = rig
        holder.location = (1.5, -1, z)
        scene.collection.objects.link(holder)
    for light in ("Key", "Fill.001", "Rim"):
        light = bpy.data.objects[light].data
        light.energy = 2.0 if light.type == "SUN" else 50.0
        light.use_shadow = False  # unshadowed, each light brightens the side it stands on
    view_layer = scene.view_layers[0]
    view_layer.use_pass_emit = True
    view_layer.emberkit.use_pass_lights = True
    scene.render.film_transparent = True
    images = _render_passes(scene, tmp_path)
    prefix = view_layer.name + "."

    def colour(name):
        return np.stack([images[f"{prefix}{name}.{c}"] for c in "RGB"], axis=-1)

    passes = {name.split(".")[1] for name in images}
    assert passes == {"Combined", "Emit", "Ambient", "Key", "Fill_001", "Rim"}
    combined = colour("Combined")
    cloud = combined.sum(axis=2) > 0.05 * combined.sum(axis=2).max()
    lights = {name: colour(name) for name in ("Key", "Fill_001", "Rim")}
    for name, pixels in lights.items():
        assert pixels[cloud].max() > 0.02 * combined.max(), name

    def centre(pixels):
        """The column of the pass's light's centre of mass."""
        return (pixels.sum(axis=(0, 2)) * np.arange(size[0])).sum() / pixels.sum()

    # Each pass holds its own light: the key's lies further left than the rim's.
    assert centre(lights["Key"]) < centre(lights["Rim"]) - 1
    parts = sum(lights.values()) + colour("Emit") + colour("Ambient")
    np.testing.assert_allclose(parts, combined, rtol=2e-3, atol=2e-3 * combined.max())


def test_light_pass_names_hold_no_dots_and_never_clash():
    names = light_pass_names(["Key", "Fill.001", "Fill_001", "Emit", "Combined", "Ambient"])
    assert names == {
        "Key": "Key",
        "Fill.001": "Fill_001",
        "Fill_001": "Fill_001_2",
        "Emit": "Emit_2",
        "Combined": "Combined_2",
        "Ambient": "Ambient_2",
    }


def test_a_volumetric_scene_without_lights_still_gives_its_ambient_part():
    scene = scenes.new_scene(size=(32, 24))
    scene.emberkit.mode = "VOLUMETRIC"
    scenes.add_mesh(scene, [(0, 0, 0)])

    image, layers, light_names = render_image(
        scenes.depsgraph_at(scene, 1), scene.camera, 32, 24, [], layers=["lights", "ambient"]
    )

    assert light_names == [] and set(layers) == {"ambient"}
    assert layers["ambient"].max() > 0
