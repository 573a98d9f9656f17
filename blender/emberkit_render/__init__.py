"""Render engine that draws Blender's particles, point clouds and marked meshes with emberkit."""

bl_info = {
    "name": "emberkit",
    "author": "emberkit developers",
    "version": (0, 1, 0),
    "blender": (3, 4, 0),
    "location": "Properties > Render > Render Engine > emberkit",
    "description": "Renders particle systems, geometry-nodes point clouds and marked meshes "
    "as glowing or lit particle clouds",
    "category": "Render",
}

if "bpy" in locals():
    import importlib

    for module in (properties, ui, engine):  # noqa: F821 (re-run by Blender's add-on reload)
        importlib.reload(module)

import bpy  # noqa: E402

from . import engine, properties, ui  # noqa: E402


def register():
    properties.register()
    bpy.utils.register_class(engine.EmberkitRenderEngine)
    ui.register()


def unregister():
    ui.unregister()
    bpy.utils.unregister_class(engine.EmberkitRenderEngine)
    properties.unregister()
    engine.release_context()
