"""Gathers the points emberkit renders from an evaluated depsgraph: the living particles of
particle systems, the points of point clouds (geometry-nodes ones arrive as instances) and the
vertices of meshes whose object is marked, with their colours and per-frame velocities.

Each source is read with foreach_get straight into arrays kept from one call to the next, so that
a million points cost a few milliseconds per attribute instead of page faults on fresh memory."""

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


def _alive_value():
    items = bpy.types.Particle.bl_rna.properties["alive_state"].enum_items
    return items["ALIVE"].value


def _color_bytes(rgba, out):
    """Linear float RGBA in [0, 1] (overwritten) to bytes in `out`; NaN reads as 0."""
    np.multiply(rgba, 255.0, out=rgba)
    np.fmax(rgba, 0.0, out=rgba)  # fmax and fmin pick the number over a NaN
    np.fmin(rgba, 255.0, out=rgba)
    np.add(rgba, 0.5, out=rgba)
    out[...] = rgba


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


def _velocity_attribute(data):
    attribute = data.attributes.get("velocity")
    if attribute is not None and attribute.domain == "POINT" and attribute.data_type == "FLOAT_VECTOR":
        return attribute
    return None


class _Output:
    """The arrays being filled: positions, colours and velocities, grown when a source does not fit
    (after the first frame they fit)."""

    def __init__(self, kept):
        self._kept = kept
        self.filled = 0
        self.still = []  # (start, end) of points without velocity, zeroed once one source moves
        self.moving = False
        self.positions = kept.take("positions", 0, 3, np.float32)
        self.colors = kept.take("colors", 0, 4, np.uint8)
        self.velocities = kept.take("velocities", 0, 3, np.float32)

    def _grow(self, capacity):
        """Takes arrays of `capacity` rows, keeping the rows filled so far."""
        old = (self.positions, self.colors, self.velocities)
        self.positions = self._kept.take("positions", capacity, 3, np.float32)
        self.colors = self._kept.take("colors", capacity, 4, np.uint8)
        self.velocities = self._kept.take("velocities", capacity, 3, np.float32)
        if self.positions.base is not old[0].base:
            for new, previous in zip((self.positions, self.colors, self.velocities), old):
                new[: self.filled] = previous[: self.filled]

    def slot(self, count):
        """The next `count` rows: (start, end)."""
        start, end = self.filled, self.filled + count
        if end > len(self.positions):
            self._grow(max(end, 2 * len(self.positions)))
        self.filled = end
        return start, end

    def finish(self, notes):
        total = self.filled
        positions, colors = self.positions[:total], self.colors[:total]
        velocities = self.velocities[:total] if self.moving else None
        if velocities is not None:
            for start, end in self.still:
                velocities[start:end] = 0.0
            if not np.isfinite(velocities.sum()):
                np.nan_to_num(velocities, copy=False, nan=0.0, posinf=0.0, neginf=0.0)
        if not np.isfinite(positions.sum()):  # one cheap pass; the exact mask only when needed
            finite = np.isfinite(positions).all(axis=1)
            left_out = total - int(np.count_nonzero(finite))
            notes.append(f"{left_out} point(s) with a non-finite position were left out")
            positions, colors = positions[finite], colors[finite]
            velocities = None if velocities is None else velocities[finite]
        return Points(positions, colors, velocities, notes)


class Collector:
    """Collects Points from a depsgraph into arrays kept between calls."""

    def __init__(self):
        self._kept = KeptArrays()

    def clear(self):
        self._kept.clear()

    def collect(self, depsgraph):
        scene = depsgraph.scene
        seconds_per_frame = scene.render.fps_base / scene.render.fps
        output = _Output(self._kept)
        alive = _alive_value()
        for instance in depsgraph.object_instances:
            obj = instance.object
            if obj.type == "POINTCLOUD":
                count = len(obj.data.points)
            elif obj.type == "MESH" and obj.original.emberkit_points:
                count = len(obj.data.vertices)
            else:
                count = 0
            if count:
                self._attribute_points(output, obj.data, count, instance.matrix_world, seconds_per_frame)
            if not instance.is_instance:
                self._particles(output, obj, alive)
        return output.finish([])

    def _particles(self, output, obj, alive):
        for system in obj.particle_systems:
            if system.settings.type != "EMITTER":
                continue
            particles = system.particles
            count = len(particles)
            if count == 0:
                continue
            positions = self._kept.take("particle positions", count, 3, np.float32)
            velocities = self._kept.take("particle velocities", count, 3, np.float32)
            states = self._kept.take("particle states", count, 1, np.int32)
            particles.foreach_get("location", positions.ravel())
            particles.foreach_get("velocity", velocities.ravel())
            particles.foreach_get("alive_state", states.ravel())
            living = states[:, 0] == alive
            living_count = int(np.count_nonzero(living))
            if living_count == 0:
                continue
            start, end = output.slot(living_count)
            # Particle velocities are per second of the particle clock, which advances by the
            # system's timestep (not 1/fps) per frame.
            if living_count == count:
                output.positions[start:end] = positions
                np.multiply(velocities, system.settings.timestep, out=output.velocities[start:end])
            else:
                output.positions[start:end] = positions[living]
                np.multiply(velocities[living], system.settings.timestep, out=output.velocities[start:end])
            output.colors[start:end] = 255
            output.moving = True

    def _attribute_points(self, output, data, count, matrix_world, seconds_per_frame):
        matrix = np.array(matrix_world, dtype=np.float32)
        linear = matrix[:3, :3].T.copy()
        transformed = not np.array_equal(linear, np.eye(3, dtype=np.float32))
        start, end = output.slot(count)
        positions = output.positions[start:end]
        local = self._kept.take("local", count, 3, np.float32) if transformed else positions
        if hasattr(data, "vertices"):
            data.vertices.foreach_get("co", local.ravel())
        else:
            data.attributes["position"].data.foreach_get("vector", local.ravel())
        if transformed:
            np.matmul(local, linear, out=positions)
        if matrix[:3, 3].any():
            positions += matrix[:3, 3]

        color_attribute = _color_attribute(data)
        if color_attribute is None:
            output.colors[start:end] = 255
        else:
            rgba = self._kept.take("rgba", count, 4, np.float32)
            if color_attribute.data_type == "FLOAT_VECTOR":
                rgb = self._kept.take("rgb", count, 3, np.float32)
                color_attribute.data.foreach_get("vector", rgb.ravel())
                rgba[:, :3] = rgb
                rgba[:, 3] = 1.0
            else:
                color_attribute.data.foreach_get("color", rgba.ravel())
            _color_bytes(rgba, output.colors[start:end])

        velocity_attribute = _velocity_attribute(data)
        if velocity_attribute is None:
            output.still.append((start, end))
            return
        # Velocity attributes are units per second of the scene's clock.
        velocities = output.velocities[start:end]
        if transformed:
            per_second = self._kept.take("local", count, 3, np.float32)
            velocity_attribute.data.foreach_get("vector", per_second.ravel())
            np.matmul(per_second, linear * seconds_per_frame, out=velocities)
        else:
            velocity_attribute.data.foreach_get("vector", velocities.ravel())
            velocities *= seconds_per_frame
        output.moving = True
