"""The scene's lights as the volumetric look's lights."""

import bpy
import pytest
from emberkit_render import library
from emberkit_render.lights import MAX_LIGHTS, make_lights

import scenes


def add_light(scene, kind, location=(0, 0, 5)):
    light = bpy.data.objects.new(kind, bpy.data.lights.new(kind, kind))
    light.location = location
    scene.collection.objects.link(light)
    return light


@pytest.fixture(scope="module")
def emberkit():
    return library.load()


def test_more_lights_than_the_renderer_takes_are_cut_with_a_warning(emberkit):
    scene = scenes.new_scene()
    for k in range(MAX_LIGHTS + 2):
        add_light(scene, "POINT", location=(k, 0, 5))

    lights, _, notes = make_lights(emberkit, scenes.depsgraph_at(scene, 1))

    assert len(lights) == MAX_LIGHTS
    assert any(f"{MAX_LIGHTS + 2} lights" in note for note in notes)


def test_each_light_kind_and_where_it_points(emberkit):
    scene = scenes.new_scene()
    add_light(scene, "SUN")  # unrotated: shines down -Z
    spot = add_light(scene, "SPOT", location=(1, 2, 3))
    spot.data.spot_size = 1.0  # radians, the whole cone
    spot.data.spot_blend = 0.5
    add_light(scene, "AREA")

    lights, _, notes = make_lights(emberkit, scenes.depsgraph_at(scene, 1))

    by_type = {light.type: light for light in lights}
    sun = by_type[emberkit.LIGHT_DIRECTIONAL]
    assert (sun.direction.x, sun.direction.y, sun.direction.z) == pytest.approx((0, 0, -1))
    cone = by_type[emberkit.LIGHT_SPOT]
    assert (cone.position.x, cone.position.y, cone.position.z) == pytest.approx((1, 2, 3))
    assert cone.outerAngle == pytest.approx(57.29578, rel=1e-4)
    assert cone.innerAngle == pytest.approx(28.64789, rel=1e-4)
    assert sum(light.type == emberkit.LIGHT_POINT for light in lights) == 1  # the area light
    assert any("area lights" in note for note in notes)
