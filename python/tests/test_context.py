"""Rendering through a context: arrays it refuses, failures it reports, where particles land."""

import errno
import math
import os

import numpy as np
import pytest

import emberkit

WIDTH, HEIGHT = 64, 32


@pytest.fixture
def context():
    with emberkit.Context("cpu") as ctx:
        yield ctx


def small_cloud(n, seed=0):
    generator = np.random.default_rng(seed)
    positions = generator.uniform(-1, 1, (n, 3)).astype(np.float32)
    colors = generator.integers(0, 256, (n, 4), dtype=np.uint8)
    return positions, colors


def render_small(context, **settings):
    camera = emberkit.Camera(eye=(0, 0, 4), fovY=60)
    return context.render(camera, emberkit.RenderSettings(width=WIDTH, height=HEIGHT, **settings))


def with_motion(context):
    return render_small(context, shutter=1, samples=16)


def pixel_centre(column, row, distance, fov_y):
    """(x, y) of the point in the plane z = 0 that a camera on the z axis at `distance`, looking
    at the origin, projects onto the centre of pixel (column, row), row 0 at the top."""
    half_height = distance * math.tan(math.radians(fov_y) / 2)
    half_width = half_height * WIDTH / HEIGHT
    x = ((column + 0.5) / WIDTH * 2 - 1) * half_width
    y = (1 - (row + 0.5) / HEIGHT * 2) * half_height
    return x, y


def test_a_point_lands_on_the_pixel_the_camera_puts_it_on(context):
    # Two points in opposite quarters of a wide image, so a flip or a wrong aspect shows.
    red = pixel_centre(40, 8, distance=10, fov_y=90)
    green = pixel_centre(10, 24, distance=10, fov_y=90)
    context.upload(
        np.array([[*red, 0], [*green, 0]], np.float32),
        np.array([[255, 0, 0, 255], [0, 255, 0, 255]], np.uint8),
    )
    camera = emberkit.Camera(eye=(0, 0, 10), target=(0, 0, 0), fovY=90)
    image = context.render(camera, emberkit.RenderSettings(width=WIDTH, height=HEIGHT))
    assert image.shape == (HEIGHT, WIDTH, 4) and image.dtype == np.float32
    assert [tuple(p) for p in np.argwhere(image[..., 0] > 0)] == [(8, 40)]
    assert [tuple(p) for p in np.argwhere(image[..., 1] > 0)] == [(24, 10)]


def test_the_eight_bit_image_comes_with_the_float_one(context):
    context.upload(*small_cloud(500))
    camera = emberkit.Camera(eye=(0, 0, 4))
    settings = emberkit.RenderSettings(width=WIDTH, height=HEIGHT)
    image, image8 = context.render(camera, settings, (), image8=True)
    assert image8.shape == (HEIGHT, WIDTH, 4) and image8.dtype == np.uint8
    lit8, lit = image8[..., :3] > 0, image[..., :3] > 0
    assert lit8.any() and not (lit8 & ~lit).any()


def test_an_upload_replaces_the_particles_and_their_count(context):
    context.upload(*small_cloud(10))
    context.upload(*small_cloud(5, seed=1))
    assert context.count == 5
    fresh = emberkit.Context("cpu")
    fresh.upload(*small_cloud(5, seed=1))
    assert np.array_equal(render_small(context), render_small(fresh))
    fresh.close()
    fresh.close()  # closing twice is harmless


def test_velocities_blur_and_a_later_upload_without_them_does_not(context):
    positions, colors = small_cloud(200)
    context.upload(positions, colors)
    still = with_motion(context)
    context.upload(positions, colors, np.full((200, 3), 0.2, np.float32))
    assert not np.array_equal(with_motion(context), still)
    context.upload(positions, colors)
    assert np.array_equal(with_motion(context), still)


def valid_arrays(n=10):
    positions, colors = small_cloud(n)
    return {"positions": positions, "colors": colors, "velocities": np.zeros((n, 3), np.float32)}


REFUSED = [
    ("positions", [[0.0, 0.0, 0.0]], TypeError),
    ("positions", np.zeros((10, 3), np.float64), TypeError),
    ("positions", np.zeros((10, 2), np.float32), ValueError),
    ("positions", np.zeros((10, 6), np.float32)[:, :3], ValueError),
    ("colors", np.zeros((10, 4), np.float32), TypeError),
    ("colors", np.zeros((10, 3), np.uint8), ValueError),
    ("colors", np.zeros((9, 4), np.uint8), ValueError),
    ("velocities", np.zeros((10, 3), np.float64), TypeError),
    ("velocities", np.zeros((20, 3), np.float32)[::2], ValueError),
]


@pytest.mark.parametrize("name, value, error", REFUSED)
def test_unfit_arrays_are_refused_by_name_and_change_nothing(context, name, value, error):
    context.upload(*small_cloud(7))
    before = render_small(context)
    arguments = valid_arrays()
    arguments[name] = value
    with pytest.raises(error, match=name):
        context.upload(**arguments)
    assert context.count == 7
    assert np.array_equal(render_small(context), before)


def test_a_refused_reservation_keeps_the_old_particles(context, tmp_path):
    # More particles than the machine's memory holds, read from a sparse file so that the
    # array itself costs nothing.
    total_memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
    n = total_memory // 8
    path = tmp_path / "sparse.bin"
    with open(path, "wb") as sparse:
        sparse.truncate(n * 12)
    huge = np.memmap(path, np.float32, "r", shape=(n, 3))
    context.upload(*small_cloud(7))
    before = render_small(context)
    with pytest.raises(emberkit.EmberkitError, match="Not enough"):
        context.upload(huge)
    assert context.count == 7
    assert np.array_equal(render_small(context), before)


def test_library_failures_raise_with_the_library_text(context):
    context.upload(*small_cloud(10))
    with pytest.raises(emberkit.EmberkitError, match="ekRender"):
        context.render(emberkit.Camera(eye=(0, 0, 4)), emberkit.RenderSettings(width=0, height=0))
    with pytest.raises(emberkit.EmberkitError, match="ekRender"):
        context.render(emberkit.Camera(eye=(0, 0, math.nan)), emberkit.RenderSettings())
    # A count beyond 32 bits must reach the library whole, not cut to the 5 below it.
    with pytest.raises(emberkit.EmberkitError, match="Not enough"):
        context.generate_test_cloud((1 << 36) + 5)
    assert context.count == 10
    context.close()
    with pytest.raises(emberkit.EmberkitError, match="closed"):
        context.count


def test_devices_and_their_fallback():
    with pytest.raises(ValueError, match="cuda:N"):
        emberkit.Context("gpu")
    with emberkit.Context("auto") as automatic:
        if automatic.device == "cpu":
            assert automatic.notice.startswith("no usable CUDA device (")
            assert automatic.notice.endswith("): rendering on the CPU")
            with pytest.raises(emberkit.EmberkitError, match="^cuda:0: "):
                emberkit.Context("cuda:0")
        else:
            assert automatic.device == "cuda:0" and automatic.notice is None
        assert automatic.info


def test_writers_report_the_system_error(tmp_path):
    image = np.zeros((HEIGHT, WIDTH, 4), np.float32)
    target = tmp_path / "missing" / "image.png"
    with pytest.raises(emberkit.EmberkitError) as failure:
        emberkit.save_png(target, image)
    assert isinstance(failure.value, OSError) and failure.value.errno == errno.ENOENT
    assert failure.value.filename == str(target)
    with pytest.raises(TypeError, match="rgba"):
        emberkit.save_exr(tmp_path / "image.exr", image.astype(np.float64))
    emberkit.save_exr(tmp_path / "image.exr", image)
    assert (tmp_path / "image.exr").stat().st_size > 0
