#!/usr/bin/env python3
"""Renders a ring of particles with every render layer and writes a PNG contact sheet of them.

    scripts/layers-contact-sheet.py [--ekrender PROGRAM] [--output PNG]

(default: build/stage/ekrender and docs/render-layers.png of this checkout).

The tiles, left to right and top to bottom: beauty, depth, forward motion, coverage, raw,
emission, ambient, light 1, light 2. Only the Python standard library is needed: ekrender writes
the layers uncompressed, which this script reads directly, and the sheet is written with zlib.
"""
import argparse
import math
import os
import struct
import subprocess
import sys
import tempfile
import zlib

REPOSITORY = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WIDTH, HEIGHT, COLUMNS = 224, 126, 3
DEPTH_NOTHING = 1e9  # depth at or beyond this means no particle covers the pixel
ENCODING_GAMMA = 1 / 2.2  # as ekrender's PNG output encodes
# The example ring of particles turning about its axis, so that the motion layer shows something,
# made into a cloud by Gaussian copies, lit warm from the front and cool from the side.
RENDER = [
    "--input", os.path.join(REPOSITORY, "examples", "ring.csv"),
    "--repopulation", "400", "--radius", "1.2",
    "--eye", "0,14,-24", "--size", f"{WIDTH}x{HEIGHT}", "--volumetric",
    "--light", "point:pos=0,12,-12:color=3,2.4,1.8",
    "--light", "directional:dir=1,-1,0:color=0.4,0.6,1.2",
    "--layers", "depth,forward,coverage,raw,emission,ambient,lights",
    "--exr-compression", "none",
]


class ExrError(Exception):
    pass


def read_header(data):
    """Returns (attributes as name -> raw bytes, offset just past the header)."""
    if data[:4] != b"\x76\x2f\x31\x01":
        raise ExrError("not an OpenEXR file")
    if data[5] & 0x1A:  # tiled, deep or multi-part
        raise ExrError("only single-part scan-line files are read")
    position, attributes = 8, {}
    while data[position] != 0:
        name_end = data.index(b"\0", position)
        type_end = data.index(b"\0", name_end + 1)
        (size,) = struct.unpack_from("<i", data, type_end + 1)
        start = type_end + 5
        attributes[data[position:name_end].decode()] = data[start:start + size]
        position = start + size
    return attributes, position + 1


def read_channels(chlist):
    """Returns [(name, pixel type)] in file order: 1 is half, 2 is float."""
    channels, position = [], 0
    while chlist[position] != 0:
        name_end = chlist.index(b"\0", position)
        (pixel_type,) = struct.unpack_from("<i", chlist, name_end + 1)
        channels.append((chlist[position:name_end].decode(), pixel_type))
        position = name_end + 17
    return channels


def read_exr(path):
    """Returns (width, height, {channel: list of floats, row by row}) of an uncompressed file."""
    with open(path, "rb") as file:
        data = file.read()
    attributes, position = read_header(data)
    if attributes["compression"][0] != 0:
        raise ExrError("only uncompressed files are read (ekrender --exr-compression none)")
    x_min, y_min, x_max, y_max = struct.unpack("<4i", attributes["dataWindow"])
    width, height = x_max - x_min + 1, y_max - y_min + 1
    channels = read_channels(attributes["channels"])
    offsets = struct.unpack_from(f"<{height}Q", data, position)
    values = {name: [] for name, _ in channels}
    for offset in offsets:
        position = offset + 8  # past the line's y and byte count
        for name, pixel_type in channels:
            code = {1: "e", 2: "f"}.get(pixel_type)
            if code is None:
                raise ExrError(f"channel {name}: unsupported pixel type {pixel_type}")
            line = struct.unpack_from(f"<{width}{code}", data, position)
            values[name].extend(line)
            position += width * struct.calcsize(code)
    return width, height, values


def encode(value):
    """A display value 0..1 as an 8-bit code."""
    return round(255 * min(max(value, 0.0), 1.0))


def colour_tile(values, prefix, curve):
    red, green, blue = (values[prefix + c] for c in "RGB")
    return [tuple(encode(curve(c)) for c in pixel) for pixel in zip(red, green, blue)]


def grey_tile(levels):
    return [(encode(level),) * 3 for level in levels]


def display(linear):
    return max(linear, 0.0) ** ENCODING_GAMMA


def depth_tile(depths):
    """Near is white, far dark grey, pixels without particles black."""
    found = [z for z in depths if z < DEPTH_NOTHING]
    near, far = (min(found), max(found)) if found else (0.0, 1.0)
    span = max(far - near, 1e-6)
    return grey_tile(1.0 - 0.8 * (z - near) / span if z < DEPTH_NOTHING else 0.0 for z in depths)


def motion_tile(u_values, v_values):
    """u to red and v to green around mid grey, scaled by the largest vector."""
    largest = max((math.hypot(u, v) for u, v in zip(u_values, v_values)), default=0.0) or 1.0
    return [(encode(0.5 + 0.5 * u / largest), encode(0.5 + 0.5 * v / largest), encode(0.5))
            for u, v in zip(u_values, v_values)]


def tiles(values):
    parts = [("beauty", "")] + [(name, name + ".") for name in ("emission", "ambient")]
    colour = {name: colour_tile(values, prefix, display) for name, prefix in parts}
    return [
        colour["beauty"],
        depth_tile(values["Z"]),
        motion_tile(values["forward.u"], values["forward.v"]),
        grey_tile(1.0 - math.exp(-t) for t in values["coverage.Y"]),  # the alpha it makes
        colour_tile(values, "raw.", lambda c: display(c / (1.0 + c))),  # headroom compressed
        colour["emission"],
        colour["ambient"],
        colour_tile(values, "light1.", display),
        colour_tile(values, "light2.", display),
    ]


def write_png(path, width, height, pixels):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    rows = b"".join(b"\0" + bytes(c for pixel in pixels[y * width:(y + 1) * width] for c in pixel)
                    for y in range(height))
    with open(path, "wb") as file:
        file.write(b"\x89PNG\r\n\x1a\n")
        file.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        file.write(chunk(b"IDAT", zlib.compress(rows, 9)))
        file.write(chunk(b"IEND", b""))


def contact_sheet(images, width, height, gap=4):
    """Lays the tiles out COLUMNS wide with a dark gap between them."""
    rows = (len(images) + COLUMNS - 1) // COLUMNS
    sheet_width = COLUMNS * width + (COLUMNS - 1) * gap
    sheet_height = rows * height + (rows - 1) * gap
    sheet = [(40, 40, 40)] * (sheet_width * sheet_height)
    for index, image in enumerate(images):
        left = (index % COLUMNS) * (width + gap)
        top = (index // COLUMNS) * (height + gap)
        for y in range(height):
            start = (top + y) * sheet_width + left
            sheet[start:start + width] = image[y * width:(y + 1) * width]
    return sheet_width, sheet_height, sheet


def render_layers(ekrender):
    """Renders the ring with every layer; returns read_exr's answer for the file."""
    with tempfile.TemporaryDirectory() as folder:
        exr = os.path.join(folder, "layers.exr")
        subprocess.run([ekrender, *RENDER, "--output", exr], check=True, stdout=subprocess.DEVNULL)
        return read_exr(exr)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ekrender",
                        default=os.path.join(REPOSITORY, "build", "stage", "ekrender"))
    parser.add_argument("--output",
                        default=os.path.join(REPOSITORY, "docs", "render-layers.png"))
    arguments = parser.parse_args()
    width, height, values = render_layers(arguments.ekrender)
    try:
        images = tiles(values)
    except KeyError as missing:
        raise ExrError(f"the file lacks the channel {missing}")
    write_png(arguments.output, *contact_sheet(images, width, height))
    print(f"wrote {arguments.output}")


if __name__ == "__main__":
    try:
        main()
    except (ExrError, OSError, subprocess.CalledProcessError) as error:
        sys.exit(f"layers-contact-sheet.py: {error}")
