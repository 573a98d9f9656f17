"""Gathers the points emberkit renders from an evaluated depsgraph: the living particles of
particle systems, the points of point clouds (geometry-nodes ones arrive as instances) and the
vertices of meshes whose object is marked, with their colours and per-frame velocities."""

from dataclasses import dataclass, field

import bpy
import numpy as np

from .buffers import KeptArrays

_COLOR_NAMES = ("Col", "col", "color", "Color", "Cd")


@dataclass
class Points:
    positions: np.ndarray  # float32 (N, 3), world space
    colors: np.ndarray  # uint8 (N, 4), linear RGBA
    velocities: object  # float32 (N, 3) displacement per frame, or None when no source moves
    notes: list = field(default_factory=list)  # things the user should hear about

    @property
    def count(self):
        return len(self.positions)


@dataclass
class _Part:
    positions: np.ndarray
    colors: object  # uint8 (n, 4) or None for white
    velocities: object  # float32 (n, 3) or None for still


def _alive_value():
    items = bpy.types.Particle.bl_rna.properties["alive_state"].enum_items
    return items["ALIVE"].value


def _to_bytes(rgba, out):
    """Linear float RGBA in [0, 1] to bytes; NaN reads as 0."""
    np.nan_to_num(rgba, copy=False, nan=0.0, posinf=1.0, neginf=0.0)
    rgba *= 255.0
    rgba += 0.5
    np.clip(rgba, 0.0, 255.0, out=rgba)
    out[...] = rgba
    return out


def _color_attribute(data):
    """The attribute that colours a mesh or point cloud per point, or None."""
    attributes = data.attributes
    candidates = []
    active = getattr(getattr(data, "color_attributes", None), "active_color", None)
    if active is not None:
        candidates.append(active)
    candidates += [attributes[name] for name in _COLOR_NAMES if name in attributes]
    candidates += list(attributes)
    for attribute in candidates:
        if attribute.domain != "POINT":
            continue
        if attribute.data_type in ("FLOAT_COLOR", "BYTE_COLOR"):
            return attribute
        if attribute.data_type == "FLOAT_VECTOR" and attribute.name in _COLOR_NAMES:
            return attribute
    return None


class Collector:
    """Collects Points from a depsgraph into arrays kept between calls."""

    def __init__(self):
        self._kept = KeptArrays()
        self._slot = 0

    def _take(self, kind, rows, columns, dtype):
        self._slot += 1
        return self._kept.take((kind, self._slot), rows, columns, dtype)

    def collect(self, depsgraph):
        self._slot = 0
        scene = depsgraph.scene
        seconds_per_frame = scene.render.fps_base / scene.render.fps
        parts = []
        notes = []
        alive = _alive_value()
        for instance in depsgraph.object_instances:
            obj = instance.object
            if obj.type == "POINTCLOUD":
                part = self._attribute_points(obj.data, len(obj.data.points), instance.matrix_world, seconds_per_frame)
            elif obj.type == "MESH" and obj.original.emberkit_points:
                part = self._attribute_points(obj.data, len(obj.data.vertices), instance.matrix_world, seconds_per_frame)
            else:
                part = None
            if part is not None:
                parts.append(part)
            if not instance.is_instance:
                parts += self._particles(obj, alive)
        return self._join(parts, notes)

    def clear(self):
        self._kept.clear()

    def _particles(self, obj, alive):
        parts = []
        for system in obj.particle_systems:
            if system.settings.type != "EMITTER":
                continue
            particles = system.particles
            count = len(particles)
            if count == 0:
                continue
            positions = self._take("position", count, 3, np.float32)
            velocities = self._take("velocity", count, 3, np.float32)
            states = self._take("state", count, 1, np.int32)
            particles.foreach_get("location", positions.ravel())
            particles.foreach_get("velocity", velocities.ravel())
            particles.foreach_get("alive_state", states.ravel())
            living = states[:, 0] == alive
            velocities *= system.settings.timestep
            if not living.all():
                positions, velocities = positions[living], velocities[living]
            if len(positions):
                parts.append(_Part(positions, None, velocities))
        return parts

    def _attribute_points(self, data, count, matrix_world, seconds_per_frame):
        if count == 0:
            return None
        matrix = np.array(matrix_world, dtype=np.float32)
        linear = matrix[:3, :3].T.copy()
        local = self._take("local", count, 3, np.float32)
        if hasattr(data, "vertices"):
            data.vertices.foreach_get("co", local.ravel())
        else:
            data.attributes["position"].data.foreach_get("vector", local.ravel())
        positions = self._take("position", count, 3, np.float32)
        np.matmul(local, linear, out=positions)
        positions += matrix[:3, 3]

        colors = None
        color_attribute = _color_attribute(data)
        if color_attribute is not None:
            rgba = self._take("rgba", count, 4, np.float32)
            if color_attribute.data_type == "FLOAT_VECTOR":
                color_attribute.data.foreach_get("vector", local.ravel())
                rgba[:, :3] = local
                rgba[:, 3] = 1.0
            else:
                color_attribute.data.foreach_get("color", rgba.ravel())
            colors = _to_bytes(rgba, self._take("color", count, 4, np.uint8))

        velocities = None
        velocity_attribute = data.attributes.get("velocity")
        if (
            velocity_attribute is not None
            and velocity_attribute.domain == "POINT"
            and velocity_attribute.data_type == "FLOAT_VECTOR"
        ):
            velocity_attribute.data.foreach_get("vector", local.ravel())
            velocities = self._take("velocity", count, 3, np.float32)
            np.matmul(local, linear, out=velocities)
            velocities *= seconds_per_frame
        return _Part(positions, colors, velocities)

    def _join(self, parts, notes):
        total = sum(len(part.positions) for part in parts)
        positions = self._kept.take("positions", total, 3, np.float32)
        colors = self._kept.take("colors", total, 4, np.uint8)
        moving = any(part.velocities is not None for part in parts)
        velocities = self._kept.take("velocities", total, 3, np.float32) if moving else None
        start = 0
        for part in parts:
            end = start + len(part.positions)
            positions[start:end] = part.positions
            colors[start:end] = 255 if part.colors is None else part.colors
            if moving:
                velocities[start:end] = 0.0 if part.velocities is None else part.velocities
            start = end

        finite = np.isfinite(positions).all(axis=1)
        dropped = total - int(np.count_nonzero(finite))
        if dropped:
            notes.append(f"{dropped} point(s) with a non-finite position were left out")
            positions, colors = positions[finite], colors[finite]
            velocities = None if velocities is None else velocities[finite]
        if velocities is not None:
            np.nan_to_num(velocities, copy=False, nan=0.0, posinf=0.0, neginf=0.0)
        return Points(positions, colors, velocities, notes)
