"""Checks scripts/layers-contact-sheet.py: its EXR reader on a file ekrender writes, and the
contact sheet it lays out. Run with the ekrender to use in $EKRENDER."""
import importlib.util
import math
import os
import struct
import tempfile
import unittest
import zlib

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "layers-contact-sheet.py")
_script_module = importlib.util.spec_from_file_location("contact_sheet", SCRIPT)
sheet = importlib.util.module_from_spec(_script_module)
_script_module.loader.exec_module(sheet)


class LayersAsRead(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.width, cls.height, cls.values = sheet.render_layers(os.environ["EKRENDER"])

    def test_every_channel_is_read_at_full_size(self):
        self.assertEqual((self.width, self.height), (sheet.WIDTH, sheet.HEIGHT))
        parts = ["emission", "ambient", "light1", "light2", "raw"]
        expected = {"R", "G", "B", "A", "Z", "forward.u", "forward.v", "coverage.Y"}
        expected |= {f"{part}.{c}" for part in parts for c in "RGB"}
        self.assertEqual(set(self.values), expected)
        for name, values in self.values.items():
            self.assertEqual(len(values), self.width * self.height, name)

    def test_the_parts_add_up_to_the_beauty(self):
        # Channels misread (a wrong offset or type) would not add up, nor would they be halves.
        parts = ["emission.", "ambient.", "light1.", "light2."]
        for c in "RGB":
            for k, beauty in enumerate(self.values[c]):
                total = sum(self.values[part + c][k] for part in parts)
                self.assertAlmostEqual(total, beauty, delta=2e-3 + 4e-3 * beauty)
        self.assertGreater(max(self.values["R"]), 0.1, "the ring is in the picture")

    def test_depth_and_motion_where_the_ring_is(self):
        covered = [k for k, t in enumerate(self.values["coverage.Y"]) if 1 - math.exp(-t) > 0.5]
        empty = [k for k, t in enumerate(self.values["coverage.Y"]) if t == 0]
        self.assertTrue(covered and empty)
        self.assertTrue(all(self.values["Z"][k] < sheet.DEPTH_NOTHING for k in covered))
        self.assertTrue(all(self.values["Z"][k] >= sheet.DEPTH_NOTHING for k in empty))
        # The ring turns, so what covers a pixel moves.
        speeds = [math.hypot(self.values["forward.u"][k], self.values["forward.v"][k])
                  for k in covered]
        self.assertGreater(max(speeds), 0.1)

    def test_the_sheet_is_a_png_of_nine_tiles(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "sheet.png")
            images = sheet.tiles(self.values)
            sheet.write_png(path, *sheet.contact_sheet(images, self.width, self.height))
            with open(path, "rb") as file:
                data = file.read()
        self.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n")
        width, height = struct.unpack(">II", data[16:24])
        self.assertEqual((width, height), (3 * self.width + 8, 3 * self.height + 8))
        (size,) = struct.unpack(">I", data[33:37])
        self.assertEqual(data[37:41], b"IDAT")
        rows = zlib.decompress(data[41:41 + size])
        self.assertEqual(len(rows), height * (1 + 3 * width))
        # The last tile (light2) sits whole at the bottom right, past the gaps.
        top, left = 2 * (self.height + 4), 2 * (self.width + 4)
        for y in range(self.height):
            start = (top + y) * (1 + 3 * width) + 1 + 3 * left
            tile_row = images[8][y * self.width:(y + 1) * self.width]
            self.assertEqual(rows[start:start + 3 * self.width],
                             bytes(c for pixel in tile_row for c in pixel), f"row {y}")


if __name__ == "__main__":
    unittest.main()
