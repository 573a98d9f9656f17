"""A renderer context: a device, the particles it holds, and renders of them."""

import ctypes
import re

import numpy as np

from . import arrays, records
from . import layers as layer_names
from ._library import lib
from .errors import EmberkitError

_CPU_ORDINAL = -1
_HIGHEST_CUDA_ORDINAL = 1024


def _ordinal(device):
    """The CUDA ordinal `device` names, None for "cpu"; ValueError for anything else."""
    if device == "cpu":
        return None
    if device == "auto":
        return 0
    match = re.fullmatch(r"cuda:(\d+)", device) if isinstance(device, str) else None
    if not match or int(match.group(1)) > _HIGHEST_CUDA_ORDINAL:
        raise ValueError('device must be "auto", "cpu" or "cuda:N", not %r' % (device,))
    return int(match.group(1))


def _last_error(handle):
    return lib.ekLastError(handle).decode("utf-8", "replace")


class Context:
    """Renders on "auto" (CUDA device 0, else the CPU), "cpu" or "cuda:N". `notice` holds the
    reason when "auto" fell back to the CPU; a named CUDA device that cannot be used raises."""

    def __init__(self, device="auto"):
        self._handle = None
        self.notice = None
        self.gpu_ms = 0.0
        ordinal = _ordinal(device)
        if ordinal is None:
            self._handle, self.device = lib.ekCreate(_CPU_ORDINAL), "cpu"
        else:
            self._handle, self.device = lib.ekCreate(ordinal), "cuda:%d" % ordinal
            reason = _last_error(self._handle) if self._handle else ""
            if reason:
                lib.ekDestroy(self._handle)
                self._handle = None
                if device != "auto":
                    raise EmberkitError("%s: %s" % (device, reason))
                self.notice = "no usable CUDA device (%s): rendering on the CPU" % reason
                self._handle, self.device = lib.ekCreate(_CPU_ORDINAL), "cpu"
        if not self._handle:
            raise EmberkitError("cannot create a renderer context (out of memory)")

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def __del__(self):
        self.close()

    def close(self):
        """Frees the context and its particles; later calls but close() raise."""
        handle, self._handle = getattr(self, "_handle", None), None
        if handle:
            lib.ekDestroy(handle)

    def _open_handle(self):
        if not self._handle:
            raise EmberkitError("the context is closed")
        return self._handle

    def _check(self, status):
        if status != 0:
            raise EmberkitError(_last_error(self._handle))

    @property
    def info(self):
        """The device's name, compute capability and memory, as the library describes them."""
        buffer = ctypes.create_string_buffer(1024)
        self._check(lib.ekDeviceInfo(self._open_handle(), buffer, len(buffer)))
        return buffer.value.decode("utf-8", "replace")

    @property
    def count(self):
        return lib.ekGetCount(self._open_handle())

    def upload(self, positions, colors=None, velocities=None):
        """Replaces the particles: positions float32 (N, 3); colors uint8 (N, 4) RGBA, white when
        None; velocities float32 (N, 3), the displacement per frame. A reservation the device
        cannot hold is refused before anything changes, so the old particles stay; a failure once
        copying began (a device fault) leaves no particles, as the copy may have overwritten some."""
        positions = arrays.checked("positions", positions, np.float32, 3)
        n = positions.shape[0]
        if colors is not None:
            colors = arrays.checked("colors", colors, np.uint8, 4, rows=n)
        if velocities is not None:
            velocities = arrays.checked("velocities", velocities, np.float32, 3, rows=n)
        handle = self._open_handle()
        self._check(lib.ekReserve(handle, n, velocities is not None))
        if n > 0:
            status = lib.ekUpload(
                handle,
                arrays.pointer(positions, records.V3),
                arrays.pointer(colors, ctypes.c_uint8),
                arrays.pointer(velocities, records.V3),
                n,
                0,
            )
            if status != 0:
                reason = _last_error(handle)
                lib.ekSetCount(handle, 0)
                raise EmberkitError(reason)
        # An upload never lowers the count, so it is always set.
        self._check(lib.ekSetCount(handle, n))

    def generate_test_cloud(self, count, seed=1, with_velocity=False):
        """Replaces the particles with ekrender's procedural test cloud."""
        self._check(lib.ekGenerateTestCloud(self._open_handle(), count, seed, bool(with_velocity)))

    def render(self, camera, settings, lights=(), image8=False, layers=None):
        """The particles seen by `camera`: float32 (height, width, 4), linear premultiplied RGBA,
        top row first; with image8, also the uint8 (height, width, 4) image. With `layers`, a
        list of names as ekrender's --layers takes them ("coverage", "raw", "depth", "forward",
        "backward", "motion", "emission", "ambient", "lights", "light1" ...), the same render
        also gives those layers: a dict from each layer's name ("motion" gives "forward" and
        "backward", "lights" one "lightN" per light) to float32 (height, width, channels),
        returned after the images."""
        if not isinstance(camera, records.Camera):
            raise TypeError("camera must be an emberkit.Camera, not %s" % type(camera).__name__)
        if not isinstance(settings, records.RenderSettings):
            raise TypeError(
                "settings must be an emberkit.RenderSettings, not %s" % type(settings).__name__
            )
        lights = list(lights)
        for light in lights:
            if not isinstance(light, records.Light):
                raise TypeError("lights must hold emberkit.Light, not %s" % type(light).__name__)
        planned = layer_names.plan(layers, len(lights)) if layers is not None else []
        light_array = (records.Light * len(lights))(*lights) if lights else None
        handle = self._open_handle()
        # The library refuses sizes below 1 with its own text; the arrays only need to exist.
        height, width = max(settings.height, 0), max(settings.width, 0)
        image = np.empty((height, width, 4), np.float32)
        image_bytes = np.empty((height, width, 4), np.uint8) if image8 else None
        layer_images = {
            name: np.empty((height, width, lib.ekLayerChannels(kind)), np.float32)
            for name, kind, _ in planned
        }
        layer_records = (layer_names.LayerRecord * len(planned))(
            *(
                layer_names.LayerRecord(
                    kind, light, arrays.pointer(layer_images[name], ctypes.c_float)
                )
                for name, kind, light in planned
            )
        )
        gpu_ms = ctypes.c_float(0)
        self._check(
            lib.ekRenderLayers(
                handle,
                ctypes.byref(camera),
                ctypes.byref(settings),
                light_array,
                len(lights),
                ctypes.addressof(layer_records) if planned else None,
                len(planned),
                arrays.pointer(image_bytes, ctypes.c_uint8),
                arrays.pointer(image, ctypes.c_float),
                ctypes.byref(gpu_ms),
            )
        )
        self.gpu_ms = gpu_ms.value
        images = (image, image_bytes) if image8 else (image,)
        if layers is not None:
            images += (layer_images,)
        return images if len(images) > 1 else image
