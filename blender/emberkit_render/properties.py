"""The renderer's settings, kept on the scene, the view layer's switch for the light passes, and
the per-object switch that renders mesh vertices."""

import bpy

SHADOW_QUALITY = {"LOW": (256, 32, 16), "MEDIUM": (512, 64, 32), "HIGH": (1024, 96, 48)}


class EmberkitSceneSettings(bpy.types.PropertyGroup):
    device: bpy.props.StringProperty(
        name="Device",
        description='Where to render: "auto" tries CUDA device 0 and falls back to the CPU, '
        '"cpu", or "cuda:N"',
        default="auto",
    )
    mode: bpy.props.EnumProperty(
        name="Look",
        items=(
            ("ADDITIVE", "Additive", "Particles add up as a glow"),
            ("VOLUMETRIC", "Volumetric", "Particles form a medium lit by the scene's lights"),
        ),
        default="ADDITIVE",
    )
    brightness: bpy.props.FloatProperty(
        name="Brightness",
        description="1 spreads a fixed amount of light over the image whatever the particle count",
        default=1.0,
        min=0.0,
        soft_max=100.0,
    )
    exposure: bpy.props.FloatProperty(
        name="Exposure", description="Exposure of the tone curve", default=1.0, min=0.0, soft_max=16.0
    )
    repopulation: bpy.props.IntProperty(
        name="Repopulation", description="Extra Gaussian copies per particle", default=0, min=0, max=1000
    )
    radius: bpy.props.FloatProperty(
        name="Radius",
        description="Spread of the copies in scene units",
        default=1.0,
        min=0.0,
        soft_max=10.0,
        subtype="DISTANCE",
    )
    samples: bpy.props.IntProperty(
        name="Blur Samples",
        description="Samples per copy when depth of field or motion blur is on (otherwise 1)",
        default=16,
        min=1,
        max=4096,
    )
    seed: bpy.props.IntProperty(
        name="Seed", description="Seed of the lens and shutter samples", default=1, min=0
    )
    density: bpy.props.FloatProperty(name="Density", description="Extinction density", default=1.0, min=0.0)
    emission: bpy.props.FloatProperty(
        name="Emission", description="Self-illumination", default=0.05, min=0.0
    )
    ambient: bpy.props.FloatVectorProperty(
        name="Ambient", subtype="COLOR", size=3, default=(0.05, 0.05, 0.06), min=0.0
    )
    scattering: bpy.props.FloatProperty(
        name="Scattering",
        description="Anisotropy from back (-0.95) to forward (0.95) scattering",
        default=0.0,
        min=-0.95,
        max=0.95,
    )
    shadows: bpy.props.EnumProperty(
        name="Shadows",
        items=(("LOW", "Low", ""), ("MEDIUM", "Medium", ""), ("HIGH", "High", "")),
        default="MEDIUM",
    )


class EmberkitViewLayerSettings(bpy.types.PropertyGroup):
    use_pass_lights: bpy.props.BoolProperty(
        name="Lights",
        description="Volumetric look: one pass per light, named after the light object, and an "
        "Ambient pass; with Emission they add up to the Combined pass",
        default=False,
    )


def register():
    bpy.utils.register_class(EmberkitSceneSettings)
    bpy.utils.register_class(EmberkitViewLayerSettings)
    bpy.types.Scene.emberkit = bpy.props.PointerProperty(type=EmberkitSceneSettings)
    bpy.types.ViewLayer.emberkit = bpy.props.PointerProperty(type=EmberkitViewLayerSettings)
    bpy.types.Object.emberkit_points = bpy.props.BoolProperty(
        name="Render Vertices as Particles",
        description="emberkit renders this mesh's vertices as particles",
        default=False,
    )


def unregister():
    del bpy.types.Object.emberkit_points
    del bpy.types.ViewLayer.emberkit
    del bpy.types.Scene.emberkit
    bpy.utils.unregister_class(EmberkitViewLayerSettings)
    bpy.utils.unregister_class(EmberkitSceneSettings)
