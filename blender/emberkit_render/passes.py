"""Blender's Depth, Vector and Emission passes, filled from emberkit's render layers."""

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


def wanted(view_layer):
    """The passes, with their makers, that the view layer asks for."""
    return [(p, make) for p, make in PASSES if getattr(view_layer, p.flag)]


def layer_names(passes):
    return [name for p, _ in passes for name in p.layers]


def register(engine, scene, view_layer):
    for p, _ in wanted(view_layer):
        engine.register_pass(scene, view_layer, p.name, len(p.channels), p.channels, p.kind)


def fill(result_layer, passes, layers):
    """Writes each pass's pixels, bottom row first as Blender keeps them."""
    for p, make in passes:
        pixels = np.ascontiguousarray(make(layers)[::-1], np.float32)
        result_layer.passes[p.name].rect.foreach_set(pixels.reshape(-1, len(p.channels)))
