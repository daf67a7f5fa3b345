"""The DDS to PNG tool: the bundled sample, cropping, and bad input."""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOL = os.path.join(ROOT, 'tools', 'dds2png.py')
SAMPLE = os.path.join(ROOT, 'samples', 'logo.dds')
# SHA-256 of the sample's decoded pixels (rows of RGB, top to bottom), checked by eye when stored.
SAMPLE_PIXELS_SHA256 = '70267020dd15042a94bc65967e42a1d6c85ccf46b9ba78c8f95daabe86313625'


def dds(width, height, surface, fourcc=b'DXT1'):
    header = struct.pack('<4s7I', b'DDS ', 124, 0x81007, height, width, len(surface), 0, 1)
    header += b'\0' * 44 + struct.pack('<2I4s5I', 32, 0x4, fourcc, 0, 0, 0, 0, 0)
    header += struct.pack('<5I', 0x1000, 0, 0, 0, 0)
    assert len(header) == 128
    return header + surface


def read_png(path):
    """Returns (width, height, rows) of an 8-bit RGB PNG whose rows use filter 0."""
    with open(path, 'rb') as f:
        blob = f.read()
    assert blob[:8] == b'\x89PNG\r\n\x1a\n'
    pos, idat, ihdr = 8, b'', None
    while pos < len(blob):
        length, kind = struct.unpack('>I4s', blob[pos:pos + 8])
        payload = blob[pos + 8:pos + 8 + length]
        crc = struct.unpack('>I', blob[pos + 8 + length:pos + 12 + length])[0]
        assert zlib.crc32(kind + payload) & 0xffffffff == crc
        if kind == b'IHDR':
            ihdr = struct.unpack('>2I5B', payload)
        elif kind == b'IDAT':
            idat += payload
        pos += 12 + length
    width, height = ihdr[:2]
    assert ihdr[2:] == (8, 2, 0, 0, 0)
    raw = zlib.decompress(idat)
    stride = 1 + 3 * width
    assert len(raw) == stride * height
    rows = [raw[y * stride:(y + 1) * stride] for y in range(height)]
    assert all(row[:1] == b'\0' for row in rows)
    return width, height, [row[1:] for row in rows]


class Dds2Png(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.dir)

    def run_tool(self, source, target):
        process = subprocess.Popen([sys.executable, TOOL, source, target],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out, err = process.communicate()
        return process.returncode, err.decode('utf-8', 'replace')

    def write(self, name, blob):
        path = os.path.join(self.dir, name)
        with open(path, 'wb') as f:
            f.write(blob)
        return path

    def test_sample_decodes_to_the_stored_pixels(self):
        target = os.path.join(self.dir, 'logo.png')
        self.assertEqual(self.run_tool(SAMPLE, target), (0, ''))
        width, height, rows = read_png(target)
        self.assertEqual((width, height), (256, 192))
        self.assertEqual(hashlib.sha256(b''.join(rows)).hexdigest(), SAMPLE_PIXELS_SHA256)

    def test_odd_sizes_are_cropped(self):
        # 5 x 3 pixels: two blocks across, one block row. Block 0 is white, block 1
        # runs red, blue, and the two colours between them along every row.
        surface = b'\xff\xff\x00\x00\x00\x00\x00\x00' + b'\x00\xf8\x1f\x00\xe4\xe4\xe4\xe4'
        source = self.write('odd.dds', dds(5, 3, surface))
        target = os.path.join(self.dir, 'odd.png')
        self.assertEqual(self.run_tool(source, target), (0, ''))
        row = bytes(bytearray([248, 252, 248] * 4 + [248, 0, 0]))
        self.assertEqual(read_png(target), (5, 3, [row] * 3))

    def test_block_rows_are_stacked_in_order(self):
        # 4 x 8 pixels: two block rows, red over blue.
        surface = b'\x00\xf8\x1f\x00\x00\x00\x00\x00' + b'\x00\xf8\x1f\x00\x55\x55\x55\x55'
        source = self.write('tall.dds', dds(4, 8, surface))
        target = os.path.join(self.dir, 'tall.png')
        self.assertEqual(self.run_tool(source, target), (0, ''))
        red, blue = bytes(bytearray([248, 0, 0] * 4)), bytes(bytearray([0, 0, 248] * 4))
        self.assertEqual(read_png(target), (4, 8, [red] * 4 + [blue] * 4))

    def test_bad_input_is_refused_cleanly(self):
        good = dds(8, 8, b'\0' * 32)
        cases = [
            ('not a DDS file', b'PNG and more bytes than a header' * 8),
            ('truncated DDS header', good[:100]),
            ('truncated surface', good[:-1]),
            ('only DXT1', dds(8, 8, b'\0' * 64, fourcc=b'DXT5')),
            ('zero image dimension', dds(0, 8, b'')),
            ('zero image dimension', dds(8, 0, b'')),
            ('exceed', dds(1 << 20, 4, b'\0' * 64)),
        ]
        for expected, blob in cases:
            source = self.write('bad.dds', blob)
            target = os.path.join(self.dir, 'bad.png')
            status, err = self.run_tool(source, target)
            self.assertEqual(status, 2, expected)
            self.assertIn(expected, err)
            self.assertEqual(err.count('\n'), 1, err)
            self.assertEqual(os.listdir(self.dir), ['bad.dds'], expected)


if __name__ == '__main__':
    unittest.main()
