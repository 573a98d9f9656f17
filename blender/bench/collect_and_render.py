"""Times the Blender engine on one million points: collection into the upload arrays, and a whole
1920 x 1080 frame (collection, render, result) against the library rendering the same points with
the same camera in the same run.
    BLENDER_USER_SCRIPTS=<dir with addons/emberkit_render> PYTHONPATH=python \\
    EMBERKIT_LIBRARY=build/stage/libemberkit.so \\
    blender -b --factory-startup --python blender/bench/collect_and_render.py [-- COUNT]"""

import sys
import time

import addon_utils
import bpy
import numpy as np

addon_utils.enable("emberkit_render", default_set=True, handle_error=None)
from emberkit_render import engine, library  # noqa: E402
from emberkit_render.collect import Collector  # noqa: E402
from emberkit_render.request import make_request  # noqa: E402

count = int(sys.argv[sys.argv.index("--") + 1]) if "--" in sys.argv else 1_000_000
repeats = 5


def best_of(function):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return min(times) * 1000.0


def cloud_scene():
    scene = bpy.context.scene
    for obj in list(bpy.data.objects):
        if obj.type != "CAMERA":
            bpy.data.objects.remove(obj)
    rng = np.random.default_rng(1)
    positions = rng.normal(0.0, 1.0, (count, 3)).astype(np.float32)
    mesh = bpy.data.meshes.new("cloud")
    mesh.vertices.add(count)
    mesh.vertices.foreach_set("co", positions.ravel())
    colors = mesh.attributes.new("Col", "FLOAT_COLOR", "POINT")
    colors.data.foreach_set("color", rng.random((count, 4), dtype=np.float32).ravel())
    velocity = mesh.attributes.new("velocity", "FLOAT_VECTOR", "POINT")
    velocity.data.foreach_set("vector", rng.normal(0.0, 1.0, (count, 3)).astype(np.float32).ravel())
    obj = bpy.data.objects.new("cloud", mesh)
    obj.emberkit_points = True
    obj.rotation_euler = (0.0, 0.0, 0.3)  # a placed object: its points go through the world matrix
    scene.collection.objects.link(obj)
    scene.render.engine = "EMBERKIT"
    scene.render.resolution_x, scene.render.resolution_y, scene.render.resolution_percentage = 1920, 1080, 100
    scene.camera.location = (0.0, -8.0, 0.0)
    scene.camera.rotation_euler = (1.5708, 0.0, 0.0)
    scene.render.filepath = "/tmp/emberkit-bench-frame.exr"
    return scene


scene = cloud_scene()
depsgraph = bpy.context.evaluated_depsgraph_get()
collector = Collector()
collector.collect(depsgraph)  # the kept arrays grow once
collect_ms = best_of(lambda: collector.collect(depsgraph))

emberkit = library.load()
points = collector.collect(depsgraph)
request = make_request(emberkit, depsgraph, scene.camera.evaluated_get(depsgraph), 1920, 1080, True)
context = engine.shared_context(emberkit, scene.emberkit.device)
context.upload(points.positions, points.colors, points.velocities)
library_ms = best_of(lambda: context.render(request.camera, request.settings, request.lights))
frame_ms = best_of(lambda: bpy.ops.render.render())

print(f"device: {context.device}; {count} points, 1920 x 1080")
print(f"collection into the upload arrays: {collect_ms:.1f} ms (best of {repeats})")
print(f"library render of the same points:  {library_ms:.1f} ms")
print(f"Blender frame (collect, upload, render, result): {frame_ms:.1f} ms = {frame_ms / library_ms:.2f} x the library")
