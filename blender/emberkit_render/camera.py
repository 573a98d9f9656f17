"""The scene camera as emberkit's camera: eye, target, up and a vertical field of view for the
render's aspect, with depth of field from the lens."""

import math

from mathutils import Vector


class CameraRefused(Exception):
    pass


def render_size(scene):
    """The pixel size of the render, after the resolution percentage."""
    scale = scene.render.resolution_percentage / 100.0
    return (
        max(1, int(scene.render.resolution_x * scale)),
        max(1, int(scene.render.resolution_y * scale)),
    )


def vertical_fov_degrees(camera_object, scene):
    """The full vertical angle Blender's camera sees. view_frame already applies the sensor fit,
    the render's aspect and its pixel aspect, so the frame's height over its depth gives the angle
    whichever side the sensor is fitted to."""
    corners = camera_object.data.view_frame(scene=scene)
    depth = -corners[0].z
    top = max(corner.y for corner in corners)
    bottom = min(corner.y for corner in corners)
    return math.degrees(2.0 * math.atan((top - bottom) * 0.5 / depth))


def _focus_distance(camera_object):
    dof = camera_object.data.dof
    if dof.focus_object is not None:
        eye = camera_object.matrix_world.translation
        forward = camera_object.matrix_world.to_3x3() @ Vector((0.0, 0.0, -1.0))
        return max((dof.focus_object.matrix_world.translation - eye).dot(forward.normalized()), 1e-4)
    return dof.focus_distance


def make_camera(emberkit, scene, camera_object):
    """emberkit's Camera for `camera_object` seen through `scene`'s render size. Raises CameraRefused
    for a camera emberkit cannot draw."""
    if camera_object is None:
        raise CameraRefused("the scene has no camera")
    data = camera_object.data
    if data.type != "PERSP":
        kind = "an orthographic" if data.type == "ORTHO" else "a panoramic"
        raise CameraRefused(
            f'the scene camera "{camera_object.name}" is {kind} camera; emberkit renders perspective cameras only'
        )
    if data.shift_x != 0.0 or data.shift_y != 0.0:
        raise CameraRefused(
            f'the scene camera "{camera_object.name}" has a lens shift, which emberkit cannot render'
        )

    rotation = camera_object.matrix_world.to_3x3().normalized()
    eye = camera_object.matrix_world.translation
    forward = rotation @ Vector((0.0, 0.0, -1.0))
    up = rotation @ Vector((0.0, 1.0, 0.0))
    camera = emberkit.Camera(
        eye=tuple(eye),
        target=tuple(eye + forward),
        up=tuple(up),
        fovY=vertical_fov_degrees(camera_object, scene),
    )
    if data.dof.use_dof and data.dof.aperture_fstop > 0.0:
        unit_scale = scene.unit_settings.scale_length or 1.0
        focal_length = data.lens * 0.001 / unit_scale  # millimetres to scene units
        camera.focusDistance = _focus_distance(camera_object)
        camera.aperture = focal_length / (2.0 * data.dof.aperture_fstop)
    return camera


def make_view_camera(emberkit, view_matrix, window_matrix):
    """emberkit's Camera for a 3D view: the inverse of its view matrix places the eye, and the
    projection's vertical scale gives the field of view. Raises CameraRefused for an orthographic
    view."""
    if window_matrix[3][3] != 0.0:
        raise CameraRefused("the view is orthographic; emberkit draws perspective views only")
    to_world = view_matrix.inverted()
    rotation = to_world.to_3x3().normalized()
    eye = to_world.translation
    forward = rotation @ Vector((0.0, 0.0, -1.0))
    return emberkit.Camera(
        eye=tuple(eye),
        target=tuple(eye + forward),
        up=tuple(rotation @ Vector((0.0, 1.0, 0.0))),
        fovY=math.degrees(2.0 * math.atan(1.0 / window_matrix[1][1])),
    )
