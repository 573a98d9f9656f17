"""Render layers through a context, and the layered EXR file they are saved to."""

import struct

import numpy as np
import pytest

import emberkit

WIDTH, HEIGHT = 64, 32
DISTANCE = 10.0
# With a 90-degree vertical view, the plane z = 0 seen from DISTANCE spans 2 * DISTANCE units
# over the image's height.
PIXELS_PER_UNIT = HEIGHT / (2 * DISTANCE)


@pytest.fixture
def context():
    with emberkit.Context("cpu") as ctx:
        yield ctx


def sheet(context, velocity=None, count=4000):
    """A dense square sheet of particles in the plane z = 0, moving at `velocity` per frame."""
    generator = np.random.default_rng(3)
    positions = np.zeros((count, 3), np.float32)
    positions[:, :2] = generator.uniform(-4, 4, (count, 2))
    colors = generator.integers(64, 256, (count, 4), dtype=np.uint8)
    velocities = None if velocity is None else np.tile(np.float32(velocity), (count, 1))
    context.upload(positions, colors, velocities)


def render(context, layers, lights=(), **settings):
    camera = emberkit.Camera(eye=(0, 0, DISTANCE), target=(0, 0, 0), fovY=90)
    fields = dict(width=WIDTH, height=HEIGHT, brightness=0.05, radius=0.05)
    fields.update(settings)
    return context.render(camera, emberkit.RenderSettings(**fields), lights, layers=layers)


def covered(image):
    return image[..., 3] > 0.5


def test_layers_come_back_by_name_with_their_shapes(context):
    sheet(context, velocity=(0, 0, 0))
    image, layers = render(context, ["coverage", "raw", "depth", "motion", "emission", "depth"])
    assert image.shape == (HEIGHT, WIDTH, 4)
    channels = {"coverage": 1, "raw": 3, "depth": 1, "forward": 2, "backward": 2, "emission": 3}
    assert {name: layer.shape for name, layer in layers.items()} == {
        name: (HEIGHT, WIDTH, n) for name, n in channels.items()
    }
    assert all(layer.dtype == np.float32 for layer in layers.values())
    # The beauty is the same render as without layers.
    np.testing.assert_array_equal(image, render(context, None))
    assert render(context, [])[1] == {}


def test_known_scenes_give_their_depth_motion_and_parts(context):
    sheet(context, velocity=(2, 1, 0))
    image, layers = render(context, ["depth", "forward", "backward", "emission"])
    inside = covered(image)
    assert inside.sum() > 100
    # Depth: the sheet's distance, to about a depth-map slice; nothing beyond it is "far away".
    np.testing.assert_allclose(layers["depth"][inside, 0], DISTANCE, atol=0.5)
    assert np.all(layers["depth"][image[..., 3] == 0, 0] >= 1e9)
    # Motion: x to the right, y up the scene is v down the image.
    forward = layers["forward"][inside]
    np.testing.assert_allclose(forward[:, 0], 2 * PIXELS_PER_UNIT, rtol=0.02)
    np.testing.assert_allclose(forward[:, 1], -1 * PIXELS_PER_UNIT, rtol=0.02)
    np.testing.assert_allclose(layers["backward"][inside], -forward, rtol=0.02)
    # The additive look's whole colour is emission.
    np.testing.assert_allclose(layers["emission"], image[..., :3], rtol=1e-5, atol=1e-6)


def test_volumetric_parts_per_light_sum_to_the_beauty(context):
    sheet(context)
    lights = [
        emberkit.Light(position=(0, 5, 5), color=(1, 0.5, 0.2)),
        emberkit.Light(position=(-5, 0, 5), color=(0.2, 0.4, 1)),
    ]
    image, layers = render(
        context, ["emission", "ambient", "lights", "light2"], lights, mode=emberkit.MODE_VOLUMETRIC
    )
    assert list(layers) == ["emission", "ambient", "light1", "light2"]
    total = sum(layers.values())
    np.testing.assert_allclose(total, image[..., :3], rtol=1e-4, atol=1e-5)
    assert not np.array_equal(layers["light1"], layers["light2"])


@pytest.mark.parametrize(
    "names, lights, mode, text",
    [
        (["bogus"], 0, emberkit.MODE_ADDITIVE, "unknown layer 'bogus'"),
        (["light0"], 1, emberkit.MODE_VOLUMETRIC, "unknown layer 'light0'"),
        (["lights"], 0, emberkit.MODE_VOLUMETRIC, "the render has no lights"),
        (["ambient"], 0, emberkit.MODE_ADDITIVE, "the additive look has no ambient layer"),
        (["light1"], 1, emberkit.MODE_ADDITIVE, "the additive look has no light layer"),
        (["light2"], 1, emberkit.MODE_VOLUMETRIC, "no light 1 for its layer"),
    ],
)
def test_layers_a_render_cannot_give_raise_with_a_reason(context, names, lights, mode, text):
    sheet(context)
    with pytest.raises(emberkit.EmberkitError, match=text):
        render(context, names, [emberkit.Light(position=(0, 5, 0))] * lights, mode=mode)


def test_a_list_of_names_is_required(context):
    with pytest.raises(TypeError, match="list of names"):
        render(context, "depth")


def exr_channels(path):
    """{name: sample type} of the channel list in an OpenEXR file's header."""
    data = path.read_bytes()
    assert data[:4] == b"\x76\x2f\x31\x01"
    at = 8
    while data[at] != 0:
        name_end = data.index(b"\0", at)
        type_end = data.index(b"\0", name_end + 1)
        (size,) = struct.unpack_from("<i", data, type_end + 1)
        value = data[type_end + 5 : type_end + 5 + size]
        if data[at:name_end] == b"channels":
            channels, cursor = {}, 0
            while value[cursor] != 0:
                end = value.index(b"\0", cursor)
                channels[value[cursor:end].decode()] = struct.unpack_from("<i", value, end + 1)[0]
                cursor = end + 17
            return channels
        at = type_end + 5 + size
    raise AssertionError("no channel list in %s" % path)


def test_a_layered_exr_holds_every_layer_under_its_channel_name(context, tmp_path):
    sheet(context, velocity=(1, 0, 0))
    image, layers = render(context, ["depth", "motion", "emission", "coverage", "raw"])
    half, full = 1, 2  # the format's codes for half and float samples
    expected = {name: half for name in "RGBA"}
    expected.update({"Z": full, "coverage.Y": full, "raw.R": full, "raw.G": full, "raw.B": full})
    expected.update({"%s.%s" % (m, c): full for m in ("forward", "backward") for c in "uv"})
    expected.update({"emission.%s" % c: half for c in "RGB"})
    for compression in ("zip", "none"):
        path = tmp_path / ("layers-%s.exr" % compression)
        emberkit.save_layered_exr(path, image, layers, compression=compression)
        assert exr_channels(path) == expected
    sizes = {c: (tmp_path / ("layers-%s.exr" % c)).stat().st_size for c in ("zip", "none")}
    assert sizes["zip"] < sizes["none"]


def test_a_layered_exr_refuses_unfit_input_and_writes_nothing(context, tmp_path):
    sheet(context)
    image, layers = render(context, ["depth"])
    path = tmp_path / "out.exr"
    with pytest.raises(ValueError, match="depth must have shape"):
        emberkit.save_layered_exr(path, image, {"depth": layers["depth"][:, :-1]})
    with pytest.raises(emberkit.EmberkitError, match="unknown layer"):
        emberkit.save_layered_exr(path, image, {"dpeth": layers["depth"]})
    with pytest.raises(ValueError, match="compression"):
        emberkit.save_layered_exr(path, image, layers, compression="piz")
    with pytest.raises(emberkit.ImageWriteError) as failure:
        emberkit.save_layered_exr(tmp_path / "no-such-folder" / "out.exr", image, layers)
    assert failure.value.filename.endswith("out.exr")
    assert list(tmp_path.iterdir()) == []
