"""Installs the packed add-on zip through Blender's own installer and renders one frame with it,
with neither PYTHONPATH nor EMBERKIT_LIBRARY set: the zip must carry the package and the library.
    blender -b --factory-startup --python-exit-code 1 --python packed_check.py -- ZIP OUTPUT_PNG"""

import os
import sys

import addon_utils
import bpy

zip_path, output = sys.argv[sys.argv.index("--") + 1 :][:2]
bpy.ops.preferences.addon_install(filepath=zip_path)
addon_utils.enable("emberkit_render", default_set=True, handle_error=None)

scene = bpy.context.scene
mesh = bpy.data.meshes.new("points")
mesh.from_pydata([(0.0, 0.0, 0.0), (0.5, 0.0, 0.5)], [], [])
points = bpy.data.objects.new("points", mesh)
points.emberkit_points = True
scene.collection.objects.link(points)
scene.render.engine = "EMBERKIT"
scene.render.resolution_percentage = 10
scene.render.filepath = output
bpy.ops.render.render(write_still=True)
if not os.path.isfile(output):
    sys.exit(f"the packed add-on wrote no frame at {output}")
