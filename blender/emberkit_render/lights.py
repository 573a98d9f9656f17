"""The scene's lights as emberkit's lights for the volumetric look."""

import math

from mathutils import Vector

MAX_LIGHTS = 8


def _color(light, scale):
    return tuple(channel * light.energy * scale for channel in light.color)


def make_lights(emberkit, depsgraph):
    """Returns (lights, names, notes): at most MAX_LIGHTS emberkit lights, the name of the light
    object each comes from (an instanced light gives its object's name) and what the user should
    know about lights left out or drawn as a simpler kind."""
    lights, names = [], []
    approximated = set()
    found = 0
    for instance in depsgraph.object_instances:
        if instance.object.type != "LIGHT":
            continue
        found += 1
        if len(lights) == MAX_LIGHTS:
            continue
        light = instance.object.data
        matrix = instance.matrix_world
        position = tuple(matrix.translation)
        direction = tuple((matrix.to_3x3() @ Vector((0.0, 0.0, -1.0))).normalized())
        if light.type == "SUN":
            record = emberkit.Light(
                type=emberkit.LIGHT_DIRECTIONAL, direction=direction, color=_color(light, 1.0)
            )
        else:
            # Blender's point, spot and area powers are watts radiated all around; spread over the
            # sphere they give the intensity at distance 1, which falls off with the square.
            record = emberkit.Light(
                type=emberkit.LIGHT_POINT,
                position=position,
                direction=direction,
                color=_color(light, 1.0 / (4.0 * math.pi)),
                falloff=emberkit.FALLOFF_INVERSE_SQUARE,
                falloffRadius=1.0,
            )
            if light.type == "SPOT":
                outer = math.degrees(light.spot_size)
                record.type = emberkit.LIGHT_SPOT
                record.outerAngle = outer
                record.innerAngle = outer * (1.0 - light.spot_blend)
            elif light.type == "AREA":
                approximated.add("area")
        record.castsShadows = 1 if light.use_shadow else 0
        lights.append(record)
        names.append(instance.object.name)

    notes = []
    if found > MAX_LIGHTS:
        notes.append(f"the scene has {found} lights; emberkit uses the first {MAX_LIGHTS}")
    for kind in sorted(approximated):
        notes.append(f"{kind} lights are drawn as point lights")
    return lights, names, notes
