"""Panels: the renderer's settings in the render properties, the passes in the view layer
properties, the mesh switch in the object properties, and Blender's own camera and light panels
shown for this engine too."""

import bpy

ENGINE = "EMBERKIT"
# Blender's panels that describe what this engine reads: the camera's lens and depth of field, the
# lights, and motion blur.
_BORROWED_PANELS = (
    "DATA_PT_lens",
    "DATA_PT_camera",
    "DATA_PT_camera_dof",
    "DATA_PT_camera_dof_aperture",
    "DATA_PT_context_light",
    "DATA_PT_light",
    "DATA_PT_EEVEE_light",
    "DATA_PT_spot",
    "DATA_PT_context_pointcloud",
    "RENDER_PT_eevee_motion_blur",
)


class _PropertiesPanel:
    """A panel of the properties editor, shown while this engine renders."""

    bl_space_type = "PROPERTIES"
    bl_region_type = "WINDOW"
    COMPAT_ENGINES = {ENGINE}

    @classmethod
    def poll(cls, context):
        return context.engine in cls.COMPAT_ENGINES


class EMBERKIT_PT_settings(_PropertiesPanel, bpy.types.Panel):
    bl_label = "emberkit"
    bl_context = "render"

    def draw(self, context):
        layout = self.layout
        layout.use_property_split = True
        settings = context.scene.emberkit
        layout.prop(settings, "device")
        layout.prop(settings, "mode")
        column = layout.column(align=True)
        column.prop(settings, "brightness")
        column.prop(settings, "exposure")
        column = layout.column(align=True)
        column.prop(settings, "repopulation")
        column.prop(settings, "radius")
        column = layout.column(align=True)
        column.prop(settings, "samples")
        column.prop(settings, "seed")
        row = layout.row()
        row.prop(context.scene.render, "use_motion_blur")
        row.prop(context.scene.render, "motion_blur_shutter", text="Shutter")
        if settings.mode == "VOLUMETRIC":
            column = layout.column(align=True)
            column.prop(settings, "density")
            column.prop(settings, "emission")
            column.prop(settings, "scattering")
            layout.prop(settings, "ambient")
            layout.prop(settings, "shadows")


class EMBERKIT_PT_passes(_PropertiesPanel, bpy.types.Panel):
    bl_label = "Passes"
    bl_context = "view_layer"

    def draw(self, context):
        layout = self.layout
        layout.use_property_split = True
        view_layer = context.view_layer
        column = layout.column(heading="Include", align=True)
        column.prop(view_layer, "use_pass_z")
        column.prop(view_layer, "use_pass_vector")
        column.prop(view_layer, "use_pass_emit", text="Emission")
        row = column.row()
        row.active = context.scene.emberkit.mode == "VOLUMETRIC"
        row.prop(view_layer.emberkit, "use_pass_lights")


class EMBERKIT_PT_object(_PropertiesPanel, bpy.types.Panel):
    bl_label = "emberkit"
    bl_context = "object"

    @classmethod
    def poll(cls, context):
        obj = context.object
        return super().poll(context) and obj is not None and obj.type == "MESH"

    def draw(self, context):
        self.layout.prop(context.object, "emberkit_points")


_CLASSES = (EMBERKIT_PT_settings, EMBERKIT_PT_passes, EMBERKIT_PT_object)


def _borrowed():
    for name in _BORROWED_PANELS:
        panel = getattr(bpy.types, name, None)
        if panel is not None and hasattr(panel, "COMPAT_ENGINES"):
            yield panel


def register():
    for cls in _CLASSES:
        bpy.utils.register_class(cls)
    for panel in _borrowed():
        panel.COMPAT_ENGINES.add(ENGINE)


def unregister():
    for panel in _borrowed():
        panel.COMPAT_ENGINES.discard(ENGINE)
    for cls in reversed(_CLASSES):
        bpy.utils.unregister_class(cls)
