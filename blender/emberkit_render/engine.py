"""The render engine: final frames through Blender's render result, and the viewport."""

import threading

import bpy
import numpy as np

from . import library, passes
from .buffers import KeptArrays
from .camera import CameraRefused, render_size
from .collect import Collector
from .request import make_request

_shared = {"context": None, "device": None}
_collector = Collector()
_result_rows = KeptArrays()
# Final renders run on Blender's render thread and the viewport on the main thread; both share the
# one context, so an upload and the render of those particles are held together.
upload_and_render = threading.Lock()


class RenderFailed(Exception):
    pass


def shared_context(emberkit, device):
    """One emberkit context for all renders, made again only when the device setting changes."""
    if _shared["context"] is None or _shared["device"] != device:
        release_context()
        try:
            _shared["context"] = emberkit.Context(device)
        except (emberkit.EmberkitError, ValueError) as error:
            raise RenderFailed(f'cannot render on "{device}": {error}') from error
        _shared["device"] = device
    return _shared["context"]


def release_context():
    if _shared["context"] is not None:
        _shared["context"].close()
    _shared["context"] = None
    _shared["device"] = None
    _collector.clear()
    _result_rows.clear()


def render_image(
    depsgraph, camera_object, width, height, notes, cancelled=lambda: False, layers=None
):
    """Collects the scene's points and renders them: a float32 (height, width, 4) image, top row
    first, linear premultiplied RGBA; None when cancelled. With `layers` (emberkit's layer names),
    the image, a dict of those layers and the light object of each "lightN" layer; "lights" in a
    scene without lights gives no light layers. Raises RenderFailed saying what went wrong."""
    try:
        emberkit = library.load()
    except library.LibraryUnavailable as error:
        raise RenderFailed(str(error)) from error
    scene = depsgraph.scene
    if camera_object is not None:
        camera_object = camera_object.evaluated_get(depsgraph)
    context = shared_context(emberkit, scene.emberkit.device)
    if context.notice:
        notes.append(context.notice)
    points = _collector.collect(depsgraph)
    notes += points.notes
    if points.count == 0:
        raise RenderFailed(
            "nothing to render: no living particles, point-cloud points or marked mesh vertices"
        )
    try:
        moving = points.velocities is not None
        request = make_request(emberkit, depsgraph, camera_object, width, height, moving)
    except CameraRefused as error:
        raise RenderFailed(str(error)) from error
    notes += request.notes
    if layers is not None and not request.lights:
        layers = [name for name in layers if name != "lights"]
    if cancelled():
        return None
    try:
        with upload_and_render:
            context.upload(points.positions, points.colors, points.velocities)
            if cancelled():
                return None
            rendered = context.render(
                request.camera, request.settings, request.lights, layers=layers
            )
    except emberkit.EmberkitError as error:
        raise RenderFailed(str(error)) from error
    if layers is None:
        return over_background(rendered, scene)
    return over_background(rendered[0], scene), rendered[1], request.light_names


def over_background(image, scene):
    """Makes the image opaque unless the scene renders with a transparent film; the colours are
    premultiplied over black, so they stay as they are."""
    if not scene.render.film_transparent:
        image[..., 3] = 1.0
    return image


class EmberkitRenderEngine(bpy.types.RenderEngine):
    bl_idname = "EMBERKIT"
    bl_label = "emberkit"
    bl_use_preview = False
    bl_use_shading_nodes_custom = False

    def render(self, depsgraph):
        scene = depsgraph.scene
        width, height = render_size(scene)
        notes = []
        planned = passes.plan(scene, depsgraph.view_layer)
        try:
            camera = self.camera_override or scene.camera  # a render may name its own camera
            rendered = render_image(
                depsgraph, camera, width, height, notes, self.test_break, planned.layer_names()
            )
        except RenderFailed as error:
            self._report_notes(notes)
            self.report({"ERROR"}, f"emberkit: {error}")
            return
        except Exception as error:  # anything unforeseen must still fail the frame, not blank it
            self.report({"ERROR"}, f"emberkit: {type(error).__name__}: {error}")
            return
        if rendered is None:
            self._report_notes(notes)
            return
        image, layers, light_names = rendered
        for light in planned.lights_without_pass(light_names):
            notes.append(f'light "{light}" has no pass of its own: it is in the Combined pass only')
        self._report_notes(notes)
        flipped = _result_rows.take("result", width * height, 4, np.float32)
        np.copyto(flipped.reshape(height, width, 4), image[::-1])  # Blender wants the bottom row first
        result = self.begin_result(0, 0, width, height)
        result.layers[0].passes["Combined"].rect.foreach_set(flipped)
        passes.fill(result.layers[0], planned, layers, light_names, (height, width))
        self.end_result(result)

    def update_render_passes(self, scene=None, renderlayer=None):
        passes.register(self, scene, renderlayer)

    def view_update(self, context, depsgraph):
        self._viewport().scene_changed()

    def view_draw(self, context, depsgraph):
        viewport = self._viewport()
        viewport.draw(depsgraph, context.region, context.region_data)
        if viewport.problem:
            self.update_stats("emberkit", viewport.problem)

    def _viewport(self):
        from .viewport import ViewportRenderer  # the gpu module exists only where Blender draws

        if getattr(self, "_viewport_renderer", None) is None:
            self._viewport_renderer = ViewportRenderer()
        return self._viewport_renderer

    def _report_notes(self, notes):
        for note in dict.fromkeys(notes):
            self.report({"WARNING"}, f"emberkit: {note}")
