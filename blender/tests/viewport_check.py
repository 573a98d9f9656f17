"""The viewport under a virtual X server (Blender with a window, not -b):
    xvfb-run -a -s "-screen 0 1280x720x24" blender --factory-startup --python-exit-code 1 \\
        --python blender/tests/viewport_check.py
A 3D view in rendered shading must show the engine's image where the view projects a point, and
draw again without rendering while nothing changed; moving the object renders once more."""

import os
import sys
import time
import traceback

import addon_utils
import bpy
import gpu
from bpy_extras.view3d_utils import location_3d_to_region_2d
from mathutils import Quaternion, Vector

addon_utils.enable("emberkit_render", default_set=True, handle_error=None)
import emberkit_render.viewport as viewport  # noqa: E402

# A small cluster off the view's centre, so that an image drawn upside down or mirrored misses it.
CENTRE = (1.0, 0.0, 0.8)
POINTS = [(CENTRE[0] + x * 0.05, 0.0, CENTRE[2] + z * 0.05) for x in range(-2, 3) for z in range(-2, 3)]
renders = []
samples = []  # (brightness at the projected point, brightness far from it), per draw
draw_ms = []  # how long each draw took


def counting(render):
    def wrapper(*args, **kwargs):
        renders.append(1)
        return render(*args, **kwargs)

    return wrapper


viewport.ViewportRenderer._render = counting(viewport.ViewportRenderer._render)


def brightness(framebuffer, x, y, size=5):
    pixels = framebuffer.read_color(int(x) - size // 2, int(y) - size // 2, size, size, 4, 0, "FLOAT")
    pixels.dimensions = size * size * 4
    return max(pixels[i] + pixels[i + 1] + pixels[i + 2] for i in range(0, size * size * 4, 4))


def sampling(draw):
    """Reads the engine's pixels back right after it drew them, before Blender's overlays."""

    def wrapper(self, depsgraph, region, region_data):
        start = time.perf_counter()
        draw(self, depsgraph, region, region_data)
        draw_ms.append((time.perf_counter() - start) * 1000.0)
        centre = location_3d_to_region_2d(region, region_data, Vector(CENTRE))
        framebuffer = gpu.state.active_framebuffer_get()
        samples.append((brightness(framebuffer, centre.x, centre.y), brightness(framebuffer, 10, 10)))

    return wrapper


viewport.ViewportRenderer.draw = sampling(viewport.ViewportRenderer.draw)


def view_3d():
    for window in bpy.context.window_manager.windows:
        for area in window.screen.areas:
            if area.type == "VIEW_3D":
                return area
    raise RuntimeError("no 3D view in the startup layout")


def set_up():
    for obj in list(bpy.data.objects):
        bpy.data.objects.remove(obj)
    scene = bpy.context.scene
    scene.render.engine = "EMBERKIT"
    mesh = bpy.data.meshes.new("points")
    mesh.from_pydata(POINTS, [], [])
    obj = bpy.data.objects.new("points", mesh)
    obj.emberkit_points = True
    scene.collection.objects.link(obj)
    area = view_3d()
    area.spaces.active.shading.type = "RENDERED"
    view = area.spaces.active.region_3d
    view.view_perspective = "PERSP"
    view.view_location = (0.0, 0.0, 0.0)
    view.view_rotation = Quaternion((1.0, 0.0, 0.0), 1.5708)  # looking along +Y
    view.view_distance = 6.0
    area.tag_redraw()
    return obj, area


def finish(problem):
    print("viewport check:", "FAILED: " + problem if problem else "passed", flush=True)
    os._exit(1 if problem else 0)


def steps():
    obj, area = set_up()
    yield
    if not renders or not samples:
        finish(f"the view was not rendered ({len(renders)} renders, {len(samples)} draws)")
    lit, dark = samples[-1]
    if not (lit > 0.1 and dark < 0.02):
        finish(f"brightness {lit:.3f} at the points and {dark:.3f} far from them")
    first = len(renders)
    for _ in range(3):
        area.tag_redraw()
        yield
    if len(renders) != first:
        finish(f"redraws of an unchanged scene rendered {len(renders) - first} more times")
    print(f"viewport check: redrawing the unchanged scene took {min(draw_ms[-3:]):.2f} ms", flush=True)
    obj.location.z += 0.5
    area.tag_redraw()
    yield
    if len(renders) != first + 1:
        finish(f"moving the object rendered {len(renders) - first} times, not once")
    finish(None)


progress = steps()


def step():
    try:
        next(progress)
    except Exception:
        traceback.print_exc()
        finish("the check raised")
    return 0.5


bpy.app.timers.register(step, first_interval=1.0)
sys.stdout.flush()
