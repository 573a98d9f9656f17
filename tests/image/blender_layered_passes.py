"""Run inside Blender: loads a layered EXR file and checks that Blender reads it as a multilayer
image with the passes its channels name, as the compositor's Image node lists them.
    blender -b --factory-startup --python-exit-code 1 --python blender_layered_passes.py -- FILE"""

import sys

import bpy

path = sys.argv[sys.argv.index("--") + 1]
image = bpy.data.images.load(path)
scene = bpy.context.scene
scene.use_nodes = True
node = scene.node_tree.nodes.new("CompositorNodeImage")
node.image = image
if image.type != "MULTILAYER":
    sys.exit(f"{path}: Blender reads a {image.type} image, not a multilayer one")
passes = {output.name for output in node.outputs if output.enabled}
# The beauty's R, G, B and A, a bare Z and the layers named before the dot.
expected = {"Combined", "Alpha", "Depth", "forward", "light1", "emission"}
if passes != expected:
    sys.exit(f"{path}: Blender finds the passes {sorted(passes)}, expected {sorted(expected)}")
print(f"Blender finds the passes {sorted(passes)}")
