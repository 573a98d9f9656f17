"""What the engine collects from each kind of source, in world space and per-frame velocities."""

import numpy as np
import pytest
from emberkit_render.collect import Collector

import scenes


def collect(scene, frame=1):
    return Collector().collect(scenes.depsgraph_at(scene, frame))


def test_marked_mesh_vertices_in_world_space_with_colours_and_velocity_per_frame():
    scene = scenes.new_scene()
    vertices = [(0, 0, 0), (1, 0, 0), (0, 2, 0)]
    marked = scenes.add_mesh(scene, vertices, location=(1, 2, 3), scale=(2, 2, 2))
    scenes.add_point_attribute(marked, "Col", "FLOAT_COLOR", [(1, 0, 0, 1), (0, 0.5, 0, 1), (0, 0, 1, 0.25)], "color")
    scenes.add_point_attribute(marked, "velocity", "FLOAT_VECTOR", [(24, 0, 0)] * 3, "vector")
    scenes.add_mesh(scene, [(5, 5, 5)], name="unmarked", marked=False)

    points = collect(scene)

    assert points.count == 3
    np.testing.assert_allclose(points.positions, [(1, 2, 3), (3, 2, 3), (1, 6, 3)], atol=1e-6)
    np.testing.assert_array_equal(points.colors, [(255, 0, 0, 255), (0, 128, 0, 255), (0, 0, 255, 64)])
    # 24 units per second in object space at 24 fps, scaled by 2: 2 units per frame.
    np.testing.assert_allclose(points.velocities, [(2, 0, 0)] * 3, atol=1e-6)


def test_points_with_nan_positions_are_left_out_and_nan_colours_read_as_zero():
    scene = scenes.new_scene()
    nan = float("nan")
    marked = scenes.add_mesh(scene, [(0, 0, 0), (nan, 0, 0), (0, 1, 0)])
    scenes.add_point_attribute(marked, "Col", "FLOAT_COLOR", [(nan, 1, 1, 1), (1, 1, 1, 1), (1, 1, 1, 1)], "color")

    points = collect(scene)

    assert points.count == 2
    np.testing.assert_allclose(points.positions, [(0, 0, 0), (0, 1, 0)])
    np.testing.assert_array_equal(points.colors, [(0, 255, 255, 255), (255, 255, 255, 255)])
    assert any("non-finite" in note for note in points.notes)


def test_geometry_nodes_point_cloud_is_reached_through_its_instance():
    scene = scenes.new_scene()
    holder = scenes.add_mesh(scene, [(0, 0, 0), (1, 1, 1)], name="holder", marked=False, location=(0, 0, 5), scale=(3, 3, 3))
    scenes.add_point_cloud_modifier(holder, velocity=(0, 48, 0), color=(1, 0.5, 0, 1))

    points = collect(scene)

    assert points.count == 2
    np.testing.assert_allclose(sorted(points.positions.tolist()), [(0, 0, 5), (3, 3, 8)], atol=1e-6)
    np.testing.assert_array_equal(points.colors, [(255, 128, 0, 255)] * 2)
    # 48 units per second at 24 fps is 2 per frame, times the object's scale of 3.
    np.testing.assert_allclose(points.velocities, [(0, 6, 0)] * 2, atol=1e-5)


def test_particle_velocity_is_the_displacement_of_one_frame():
    """Particles move by velocity x the system's timestep per frame, which is not 1/fps."""
    scene = scenes.new_scene()
    scenes.add_emitter(scene, count=40, speed=3.0, timestep=0.1)

    before = collect(scene, frame=5)
    after = collect(scene, frame=6)

    assert before.count == after.count == 40
    np.testing.assert_allclose(after.positions - before.positions, before.velocities, atol=1e-4)
    np.testing.assert_allclose(before.velocities[:, 2], 0.3, atol=1e-4)


def test_only_living_particles_are_collected_beside_other_sources():
    scene = scenes.new_scene()
    emitter = scenes.add_emitter(scene, count=100, frame_start=1, frame_end=50)
    scenes.add_mesh(scene, [(7, 7, 7)])  # still: its velocity reads as zero

    points = collect(scene, frame=11)

    evaluated = emitter.evaluated_get(scenes.depsgraph_at(scene, 11))
    states = [p.alive_state for p in evaluated.particle_systems[0].particles]
    living = states.count("ALIVE")
    assert 0 < living < 100
    assert points.count == living + 1
    mesh_row = np.flatnonzero((points.positions == (7, 7, 7)).all(axis=1))
    assert len(mesh_row) == 1
    np.testing.assert_array_equal(points.velocities[mesh_row[0]], (0, 0, 0))


@pytest.mark.parametrize("build", ["no objects", "empty mesh", "unborn particles"])
def test_sources_without_points_give_nothing(build):
    scene = scenes.new_scene()
    if build == "empty mesh":
        scenes.add_mesh(scene, [])
    elif build == "unborn particles":
        scenes.add_emitter(scene, frame_start=20, frame_end=30)
    assert collect(scene).count == 0
