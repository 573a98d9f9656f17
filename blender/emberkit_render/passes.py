"""Blender's Depth, Vector and Emission passes and the volumetric look's light passes (one per
light object, and Ambient), filled from emberkit's render layers."""

from dataclasses import dataclass

import numpy as np


@dataclass(frozen=True)
class Pass:
    flag: str  # the view layer's switch for the pass
    name: str  # Blender's name for the pass
    channels: str
    kind: str  # register_pass's channel type
    layers: tuple  # the emberkit layers it is made of


def _depth(layers):
    return layers["depth"]


def _vector(layers):
    """Blender's speed vectors, in pixels with y up the image: (x, y) the motion from the previous
    frame to this one, (z, w) from this one to the next. emberkit's forward and backward layers
    say where the content goes next and where it came from, with v down the image."""
    forward, backward = layers["forward"], layers["backward"]
    return np.stack(
        [-backward[..., 0], backward[..., 1], forward[..., 0], -forward[..., 1]], axis=-1
    )


def _emission(layers):
    return layers["emission"]


PASSES = (
    (Pass("use_pass_z", "Depth", "Z", "VALUE", ("depth",)), _depth),
    (Pass("use_pass_vector", "Vector", "XYZW", "VECTOR", ("motion",)), _vector),
    (Pass("use_pass_emit", "Emit", "RGB", "COLOR", ("emission",)), _emission),
)
AMBIENT = "Ambient"
# Names a light pass must not take: the passes above, Combined and the Alpha socket Blender's
# Image node adds beside it.
_TAKEN = {"Combined", "Alpha", AMBIENT} | {p.name for p, _ in PASSES}


def light_pass_names(light_names):
    """{light object name: its pass's name}. Blender splits a multilayer file's channel names at
    dots, so dots become underscores; a name that is taken gets a number after it."""
    names, taken = {}, set(_TAKEN)
    for light in light_names:
        name = base = light.replace(".", "_")
        number = 1
        while name in taken:
            number += 1
            name = f"{base}_{number}"
        taken.add(name)
        names[light] = name
    return names


def _light_objects(view_layer):
    """Names of the light objects the view layer renders: its own and those inside the
    collections its objects instance, each once."""
    found, seen_collections = {}, set()

    def visit(objects):
        for obj in objects:
            if obj.hide_render:
                continue
            if obj.type == "LIGHT":
                found.setdefault(obj.name)
            elif obj.instance_type == "COLLECTION" and obj.instance_collection is not None:
                collection = obj.instance_collection
                if collection.name_full not in seen_collections:
                    seen_collections.add(collection.name_full)
                    visit(collection.all_objects)

    visit(view_layer.objects)
    return list(found)


@dataclass
class Plan:
    """The passes a view layer asks for, with their makers, and its light passes: `lights` is
    None when they are off, else {light object name: pass name}."""

    fixed: list
    lights: dict = None

    def layer_names(self):
        """The emberkit layers the passes are made of."""
        names = [name for p, _ in self.fixed for name in p.layers]
        if self.lights is not None:
            names += ["lights", "ambient"]
        return names

    def registered(self):
        """(name, channels, channel type) of each pass to register."""
        passes = [(p.name, p.channels, p.kind) for p, _ in self.fixed]
        if self.lights is not None:
            passes += [(name, "RGB", "COLOR") for name in (AMBIENT, *self.lights.values())]
        return passes

    def lights_without_pass(self, light_names):
        """The rendered lights that have no pass of their own (lights in the scene in ways the
        pass list does not foresee, such as lights instanced by particles)."""
        if self.lights is None:
            return []
        return sorted({name for name in light_names if name not in self.lights})


def plan(scene, view_layer):
    """The passes `view_layer` asks for; light passes only in the volumetric look."""
    fixed = [(p, make) for p, make in PASSES if getattr(view_layer, p.flag)]
    lights = None
    if scene.emberkit.mode == "VOLUMETRIC" and view_layer.emberkit.use_pass_lights:
        lights = light_pass_names(_light_objects(view_layer))
    return Plan(fixed, lights)


def register(engine, scene, view_layer):
    for name, channels, kind in plan(scene, view_layer).registered():
        engine.register_pass(scene, view_layer, name, len(channels), channels, kind)


def _set(result_layer, name, pixels, channels):
    """Writes one pass's pixels, bottom row first as Blender keeps them."""
    flipped = np.ascontiguousarray(pixels[::-1], np.float32)
    result_layer.passes[name].rect.foreach_set(flipped.reshape(-1, channels))


def fill(result_layer, planned, layers, light_names, shape):
    """Fills the planned passes from emberkit's `layers`; `light_names` names the light object of
    each "lightN" layer. Instances of one light object add up in its pass; a light pass whose
    light did not render (left out, hidden) is black."""
    for p, make in planned.fixed:
        _set(result_layer, p.name, make(layers), len(p.channels))
    if planned.lights is None:
        return
    _set(result_layer, AMBIENT, layers["ambient"], 3)
    sums = {name: np.zeros(shape + (3,), np.float32) for name in planned.lights.values()}
    for index, light in enumerate(light_names):
        if light in planned.lights:
            sums[planned.lights[light]] += layers[f"light{index + 1}"]
    for name, pixels in sums.items():
        _set(result_layer, name, pixels, 3)
