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

import bpy

from . import engine, properties, ui


def register():
    properties.register()
    bpy.utils.register_class(engine.EmberkitRenderEngine)
    ui.register()


def unregister():
    ui.unregister()
    bpy.utils.unregister_class(engine.EmberkitRenderEngine)
    properties.unregister()
    engine.release_context()
