"""Everything one emberkit render needs, read from the scene: camera, settings and lights."""

from dataclasses import dataclass, field

from .camera import make_camera
from .lights import make_lights
from .properties import SHADOW_QUALITY


@dataclass
class Request:
    camera: object
    settings: object
    lights: list
    light_names: list  # the light object each light comes from
    notes: list = field(default_factory=list)


def make_settings(emberkit, scene, width, height, blurred):
    ours = scene.emberkit
    map_size, shadow_slices, camera_slices = SHADOW_QUALITY[ours.shadows]
    return emberkit.RenderSettings(
        width=width,
        height=height,
        brightness=ours.brightness,
        exposure=ours.exposure,
        repopulation=ours.repopulation,
        radius=ours.radius,
        samples=ours.samples if blurred else 1,
        shutter=scene.render.motion_blur_shutter if scene.render.use_motion_blur else 0.0,
        seed=ours.seed,
        mode=emberkit.MODE_VOLUMETRIC if ours.mode == "VOLUMETRIC" else emberkit.MODE_ADDITIVE,
        density=ours.density,
        emission=ours.emission,
        ambient=tuple(ours.ambient),
        scattering=ours.scattering,
        shadowMapSize=map_size,
        shadowSlices=shadow_slices,
        cameraSlices=camera_slices,
    )


def make_request(emberkit, depsgraph, camera_object, width, height, moving):
    """The render request for `camera_object`; `moving` says whether the points carry velocities."""
    scene = depsgraph.scene
    camera = make_camera(emberkit, scene, camera_object)
    blurred = camera.aperture > 0.0 or (scene.render.use_motion_blur and moving)
    settings = make_settings(emberkit, scene, width, height, blurred)
    lights, names, notes = [], [], []
    if scene.emberkit.mode == "VOLUMETRIC":
        lights, names, notes = make_lights(emberkit, depsgraph)
    return Request(camera, settings, lights, names, notes)
