"""The engine's image in the 3D view. A view renders again only when the scene changed (Blender
then calls view_update) or the view itself moved or was resized; any other redraw draws the kept
texture."""

import gpu
import numpy as np
from gpu_extras.presets import draw_texture_2d

from . import library
from .camera import CameraRefused, make_view_camera
from .collect import Collector
from .engine import RenderFailed, over_background, shared_context, upload_and_render
from .lights import make_lights
from .request import make_settings


class ViewportRenderer:
    def __init__(self):
        self._collector = Collector()
        self._scene_changed = True
        self._view_key = None
        self._texture = None
        self.problem = None  # the text of the last failure, shown instead of an image

    def scene_changed(self):
        self._scene_changed = True

    def draw(self, depsgraph, region, region_data):
        width, height = region.width, region.height
        view_key = (
            width,
            height,
            tuple(map(tuple, region_data.view_matrix)),
            tuple(map(tuple, region_data.window_matrix)),
        )
        if self._scene_changed or view_key != self._view_key:
            self._scene_changed = False
            self._view_key = view_key
            self._texture = None
            try:
                self._texture = self._render(depsgraph, region_data, width, height)
                self.problem = None
            except RenderFailed as error:
                self.problem = str(error)
        if self._texture is not None:
            gpu.state.blend_set("ALPHA_PREMULT")
            draw_texture_2d(self._texture, (0, 0), width, height)
            gpu.state.blend_set("NONE")

    def _render(self, depsgraph, region_data, width, height):
        try:
            emberkit = library.load()
        except library.LibraryUnavailable as error:
            raise RenderFailed(str(error)) from error
        scene = depsgraph.scene
        context = shared_context(emberkit, scene.emberkit.device)
        points = self._collector.collect(depsgraph)
        if points.count == 0:
            return None
        try:
            camera = make_view_camera(emberkit, region_data.view_matrix, region_data.window_matrix)
        except CameraRefused as error:
            raise RenderFailed(str(error)) from error
        settings = make_settings(emberkit, scene, width, height, blurred=False)
        settings.shutter = 0.0
        lights = make_lights(emberkit, depsgraph)[0] if scene.emberkit.mode == "VOLUMETRIC" else []
        try:
            with upload_and_render:
                context.upload(points.positions, points.colors, points.velocities)
                image = context.render(camera, settings, lights)
        except emberkit.EmberkitError as error:
            raise RenderFailed(str(error)) from error
        image = over_background(image, scene)
        bottom_first = np.ascontiguousarray(image[::-1]).ravel()
        buffer = gpu.types.Buffer("FLOAT", bottom_first.size, bottom_first)
        return gpu.types.GPUTexture((width, height), format="RGBA16F", data=buffer)
