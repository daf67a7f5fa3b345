"""The DDS to PNG tool: what it reads (formats, mip levels, layers), bad
files, output safety, batches, and starting it as a program."""
import errno
import fcntl
import hashlib
import io
import json
import pickle
import os
import pty
import random
import select
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOLS = os.path.join(ROOT, 'tools')
# The package from the tree, here and in every process the tests start.
sys.path.insert(0, TOOLS)
os.environ['PYTHONPATH'] = os.pathsep.join([TOOLS] + [p for p in [os.environ.get('PYTHONPATH')] if p])
import dds2png  # noqa: E402
from dds2png import compressing, formats, png  # noqa: E402
from dds2png.command import main  # noqa: E402
TOOL = [sys.executable, '-m', 'dds2png']
# Whether the modules built have BC6H's decoder (an older _bcn refuses the format as not decoded).
BC6H_DECODED = [row for row in formats.ENCODINGS if row.name == 'BC6H'][0].decoded

SAMPLE = os.path.join(ROOT, 'samples', 'logo.dds')
CUTOUT = os.path.join(ROOT, 'samples', 'cutout.dds')  # with transparent pixels, made by samples/make-cutout.py
# SHA-256 of the sample's decoded pixels (rows of RGB, top to bottom), checked by eye when stored.
SAMPLE_PIXELS_SHA256 = '70267020dd15042a94bc65967e42a1d6c85ccf46b9ba78c8f95daabe86313625'

# RGB565 colours, one per mip level or layer, and their expanded pixels.
COLOURS = [0xF800, 0x07E0, 0x001F, 0xFFE0, 0xF81F, 0x07FF, 0x8410, 0x4208]
CUBE = 0x200 | 0xFC00         # a cube map with all six faces
VOLUME = 0x200000


def pixel(c):
    return bytes(bytearray([(c >> 11) << 3, ((c >> 5) & 0x3F) << 2, (c & 0x1F) << 3]))


def solid(c, width, height):
    """A surface of one colour: every block has c0 = c and every index 0."""
    return struct.pack('<2H4x', c, 0) * (((width + 3) // 4) * ((height + 3) // 4))


def dds(width, height, surface, fourcc=b'DXT1', pf_flags=0x4, levels=0, depth=0, caps2=0, pitch=None,
        dx10=None):
    """A DDS file; dx10 is (DXGI format, resource dimension, misc flag, array size)."""
    pitch = len(surface) if pitch is None else pitch
    header = struct.pack('<4s7I', b'DDS ', 124, 0x81007, height, width, pitch, depth, levels)
    header += b'\0' * 44 + struct.pack('<2I4s5I', 32, pf_flags, b'DX10' if dx10 else fourcc, 0, 0, 0, 0, 0)
    header += struct.pack('<5I', 0x1000, caps2, 0, 0, 0)
    if dx10:
        header += struct.pack('<5I', *(tuple(dx10) + (0,)))
    return header + surface


def read_png(path):
    """Returns (width, height, rows) of an 8-bit RGB or RGBA PNG file whose rows use filter 0."""
    with open(path, 'rb') as f:
        return png_image(f.read())


def idat_stream(blob):
    """The zlib stream of a PNG's IDAT chunks, joined."""
    pos, pieces = 8, []
    while pos < len(blob):
        length, kind = struct.unpack('>I4s', blob[pos:pos + 8])
        if kind == b'IDAT':
            pieces.append(blob[pos + 8:pos + 8 + length])
        pos += 12 + length
    return b''.join(pieces)


def png_image(blob):
    """Returns (width, height, rows) of an 8-bit PNG whose rows use filter 0:
    RGB rows, or for a PNG with alpha (colour type 6) RGBA rows, or for a
    greyscale one (colour type 0) a byte a pixel, two with alpha (type 4)."""
    assert blob[:8] == b'\x89PNG\r\n\x1a\n'
    pos, idat, ihdr = 8, [], None
    while pos < len(blob):
        length, kind = struct.unpack('>I4s', blob[pos:pos + 8])
        payload = blob[pos + 8:pos + 8 + length]
        crc = struct.unpack('>I', blob[pos + 8 + length:pos + 12 + length])[0]
        assert zlib.crc32(kind + payload) & 0xffffffff == crc
        if kind == b'IHDR':
            ihdr = struct.unpack('>2I5B', payload)
        elif kind == b'IDAT':
            idat.append(payload)
        pos += 12 + length
    width, height = ihdr[:2]
    assert ihdr[2:] in [(8, 0, 0, 0, 0), (8, 2, 0, 0, 0), (8, 4, 0, 0, 0), (8, 6, 0, 0, 0)]
    raw = zlib.decompress(b''.join(idat))
    stride = 1 + {0: 1, 2: 3, 4: 2, 6: 4}[ihdr[3]] * width
    assert len(raw) == stride * height
    rows = [raw[y * stride:(y + 1) * stride] for y in range(height)]
    assert all(row[:1] == b'\0' for row in rows)
    return width, height, [row[1:] for row in rows]


def png_samples(blob):
    """(IHDR's fields, the samples of each row) of a PNG whose rows use
    filter 0, read by hand: 16-bit samples big-endian, as PNG stores them."""
    ihdr = None
    pos = 8
    while pos < len(blob):
        length, kind = struct.unpack('>I4s', blob[pos:pos + 8])
        if kind == b'IHDR':
            ihdr = struct.unpack('>2I5B', blob[pos + 8:pos + 8 + length])
        pos += 12 + length
    width, height, depth, colour_type = ihdr[:4]
    channels = {0: 1, 2: 3, 6: 4}[colour_type]
    raw = zlib.decompress(idat_stream(blob))
    stride = 1 + channels * width * depth // 8
    assert len(raw) == stride * height
    code = '>%d%s' % (channels * width, 'H' if depth == 16 else 'B')
    return ihdr, [struct.unpack(code, raw[y * stride + 1:(y + 1) * stride]) for y in range(height)]


# Reads an image with OpenImageIO, under the first python3 that has it
# (Debian's python3-openimageio is for /usr/bin/python3): prints its size,
# channel names (from its iinfo tool's channel list), sample format and
# every sample as a half's bits (EXR) or a 16-bit integer (PNG).
OIIO_READER = r"""
import json, subprocess, sys
import numpy, OpenImageIO as oiio
path, kind = sys.argv[1], sys.argv[2]
image = oiio.ImageBuf(path)
pixels = image.get_pixels(kind)
samples = pixels.view(numpy.uint16) if kind == 'half' else pixels
listing = subprocess.check_output(['iinfo', '-v', path]).decode('utf-8')
names = [line.split(':', 1)[1].strip().split(', ') for line in listing.splitlines()
         if line.strip().startswith('channel list:')][0]
print(json.dumps([image.roi.width, image.roi.height, names, str(image.pixeltype),
                  [int(v) for v in samples.reshape(-1)]]))
"""
OIIO_PYTHON = '/usr/bin/python3'


def openimageio_python():
    try:
        subprocess.check_output([OIIO_PYTHON, '-c', 'import numpy, OpenImageIO'], stderr=subprocess.STDOUT)
        subprocess.check_output(['iinfo', '--help'], stderr=subprocess.STDOUT)
    except (OSError, subprocess.CalledProcessError):
        return None
    return OIIO_PYTHON


def read_with_openimageio(path, kind='half'):
    """(width, height, channel names, sample format, samples) as OpenImageIO reads the file."""
    return tuple(json.loads(subprocess.check_output([OIIO_PYTHON, '-c', OIIO_READER, path, kind]).decode('ascii')))


def halves(*bits):
    return bytearray(struct.pack('=%dH' % len(bits), *bits))


def singles(*bits):
    return bytearray(struct.pack('=%dI' % len(bits), *bits))


def words(*values):
    return bytearray(struct.pack('=%dH' % len(values), *values))


def image(width, layers):
    """The expected image: for each (colour, height) a band of solid rows."""
    rows = []
    for c, height in layers:
        rows += [pixel(c) * width] * height
    return width, len(rows), rows


# The PNG writer's test image: each row starts with its number, so that a
# strip lost, repeated or out of order shows; the rest of it is a slice of
# one buffer of noise, which deflate matches across rows and strips.
WRITER_WIDTH = 1024
WRITER_NOISE = bytes(bytearray(random.Random(1).getrandbits(8) for _ in range(1 << 14)))


def writer_rows(height):
    size = 3 * WRITER_WIDTH - 4
    return [struct.pack('>I', y) + (WRITER_NOISE * 2)[y * 61 % len(WRITER_NOISE):][:size] for y in range(height)]


def process_threads():
    """The ids of this process's threads, as the system lists them."""
    return set(os.listdir('/proc/self/task'))


def threads_after_ending(before):
    """This process's threads, once those not in `before` have had a moment
    to vanish: a thread the writer has waited for may still be leaving the
    system's list; one still running stays in it."""
    deadline = time.time() + 5
    while process_threads() != before and time.time() < deadline:
        time.sleep(0.01)
    return process_threads()


def interrupt_at_every_step(run, traced, each=None):
    """Calls run() again and again, raising KeyboardInterrupt at its next
    step each time (each bytecode where Python reports them, else each line)
    in the frames whose code traced(code) picks, until a call runs through;
    each(step) checks what a call left. Returns the number of steps."""
    step, finished = 0, False
    while not finished:
        step += 1
        count = [0]

        def local(frame, event, arg):
            if event in ('line', 'opcode'):
                count[0] += 1
                if count[0] == step:
                    raise KeyboardInterrupt
            return local

        def tracer(frame, event, arg):
            if not traced(frame.f_code):
                return None
            if hasattr(frame, 'f_trace_opcodes'):
                frame.f_trace_opcodes = True
            return local
        sys.settrace(tracer)
        try:
            run()
            finished = True
        except KeyboardInterrupt:
            pass
        finally:
            sys.settrace(None)
        if each is not None:
            each(step)
    return step


def open_bytes(path):
    with open(path, 'rb') as f:
        return f.read()


def real_imagemagick():
    try:
        output = subprocess.check_output(['/usr/bin/convert', '-version'], stderr=subprocess.STDOUT)
    except (OSError, subprocess.CalledProcessError):
        return False
    return b'ImageMagick' in output


def layout_dds(width, height, surface, bits, masks, pf_flags=0x40, **options):
    """A DDS file of a legacy layout of `bits` a pixel given by its masks (red, green, blue, alpha)."""
    blob = dds(width, height, surface, fourcc=b'\0' * 4, pf_flags=pf_flags, **options)
    return blob[:88] + struct.pack('<5I', bits, *masks) + blob[108:]


class ToolTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.dir)

    def run_tool(self, *args, **kwargs):
        process = subprocess.Popen(TOOL + list(args), stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, **kwargs)
        out, err = process.communicate()
        self.assertNotIn(b'Traceback', err)
        return process.returncode, err.decode('utf-8', 'replace'), out

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, blob):
        with open(self.path(name), 'wb') as f:
            f.write(blob)
        return self.path(name)

    def convert(self, blob, *options):
        """Converts `blob` with the options; returns the PNG's (width, height, rows)."""
        source, target = self.write('in.dds', blob), self.path('out.png')
        status, err, _ = self.run_tool(*(list(options) + [source, target]))
        self.assertEqual((status, err), (0, ''))
        return read_png(target)


    def convert_to(self, source, name, *options):
        """Converts the file `source` to `name` in the test's folder with the command; returns its path."""
        status, err, _ = self.run_tool(*(list(options) + [source, self.path(name)]))
        self.assertEqual((status, err), (0, ''))
        return self.path(name)

class Formats(ToolTest):
    def test_sample_decodes_to_the_stored_pixels(self):
        target = self.path('logo.png')
        self.assertEqual(self.run_tool(SAMPLE, target)[:2], (0, ''))
        width, height, rows = read_png(target)
        self.assertEqual((width, height), (256, 192))
        self.assertEqual(hashlib.sha256(b''.join(rows)).hexdigest(), SAMPLE_PIXELS_SHA256)

    def test_the_transparent_sample(self):
        # What samples/make-cutout.py writes, and an RGBA PNG: a ring, opaque,
        # around a transparent hole, the corners transparent too.
        subprocess.check_call([sys.executable, os.path.join(ROOT, 'samples', 'make-cutout.py'), self.path('made.dds')])
        with open(CUTOUT, 'rb') as stored, open(self.path('made.dds'), 'rb') as made:
            self.assertEqual(stored.read(), made.read())
        target = self.path('cutout.png')
        self.assertEqual(self.run_tool(CUTOUT, target)[:2], (0, ''))
        width, height, rows = read_png(target)
        alpha = [[bytearray(row)[4 * x + 3] for x in range(width)] for row in rows]
        self.assertEqual((width, height), (64, 64))
        self.assertEqual([alpha[y][x] for x, y in [(0, 0), (63, 63), (32, 32), (32, 6), (6, 32), (57, 32)]],
                         [0, 0, 0, 255, 255, 255])

    def test_odd_sizes_are_cropped(self):
        # 5 x 3 pixels: two blocks across, one block row. Block 0 is white, block 1
        # runs red, blue, and the two colours between them along every row.
        surface = b'\xff\xff\x00\x00\x00\x00\x00\x00' + b'\x00\xf8\x1f\x00\xe4\xe4\xe4\xe4'
        row = bytes(bytearray([248, 252, 248] * 4 + [248, 0, 0]))
        self.assertEqual(self.convert(dds(5, 3, surface)), (5, 3, [row] * 3))

    def test_block_rows_are_stacked_in_order(self):
        # 4 x 8 pixels: two block rows, red over blue.
        surface = b'\x00\xf8\x1f\x00\x00\x00\x00\x00' + b'\x00\xf8\x1f\x00\x55\x55\x55\x55'
        self.assertEqual(self.convert(dds(4, 8, surface)), image(4, [(0xF800, 4), (0x001F, 4)]))

    def test_dx10_headers_of_each_bc1_format(self):
        expected = image(8, [(COLOURS[0], 4)])
        for dxgi in (70, 71, 72):
            self.assertEqual(self.convert(dds(8, 4, solid(COLOURS[0], 8, 4), dx10=(dxgi, 3, 0, 1))), expected)
        # Resource dimension and array size left 0 by the writer: one 2D texture.
        self.assertEqual(self.convert(dds(8, 4, solid(COLOURS[0], 8, 4), dx10=(71, 0, 0, 0))), expected)

    def test_pitch_fields_and_a_missing_fourcc_flag_are_ignored(self):
        expected = image(8, [(COLOURS[1], 8)])
        for pitch in (0, 1, 12345, 0xFFFFFFFF):
            self.assertEqual(self.convert(dds(8, 8, solid(COLOURS[1], 8, 8), pitch=pitch)), expected)
        self.assertEqual(self.convert(dds(8, 8, solid(COLOURS[1], 8, 8), pf_flags=0)), expected)

    @unittest.skipUnless(real_imagemagick(), 'ImageMagick is not installed')
    def test_files_written_by_imagemagick(self):
        source = self.path('magick.dds')
        subprocess.check_call(['/usr/bin/convert', '-size', '16x8', 'gradient:red-blue', '-define',
                               'dds:compression=dxt1', '-define', 'dds:mipmaps=2', source])
        subprocess.check_call(['/usr/bin/convert', source + '[0]', '-depth', '8', 'rgb:' + self.path('magick.rgb')])
        with open(self.path('magick.rgb'), 'rb') as f:
            theirs = bytearray(f.read())
        for level, size in enumerate([(16, 8), (8, 4), (4, 2)]):
            status, err, _ = self.run_tool('--level', str(level), source, self.path('%d.png' % level))
            self.assertEqual((status, err), (0, ''))
            self.assertEqual(read_png(self.path('%d.png' % level))[:2], size)
        # ImageMagick widens endpoints by repeating their high bits; the decoder does not.
        ours = bytearray(b''.join(read_png(self.path('0.png'))[2]))
        self.assertEqual(len(ours), len(theirs))
        self.assertLessEqual(max(abs(a - b) for a, b in zip(ours, theirs)), 10)

    @unittest.skipUnless(real_imagemagick(), 'ImageMagick is not installed')
    def test_dxt5_files_written_by_imagemagick(self):
        # A red-to-blue gradient under a white-to-black alpha gradient.
        source = self.path('magick.dds')
        subprocess.check_call(['/usr/bin/convert', '-size', '16x8', 'gradient:red-blue', '(', '-size', '16x8',
                               'gradient:white-black', ')', '-alpha', 'off', '-compose', 'copy_opacity',
                               '-composite', '-define', 'dds:compression=dxt5', '-define', 'dds:mipmaps=2', source])
        subprocess.check_call(['/usr/bin/convert', source + '[0]', '-depth', '8', 'rgba:' + self.path('magick.rgba')])
        with open(self.path('magick.rgba'), 'rb') as f:
            theirs = bytearray(f.read())
        self.assertEqual(dds2png.info(source)[:6], (16, 8, 3, (1, 1, 1), '2D', 'DXT5'))
        for level, size in enumerate([(16, 8), (8, 4), (4, 2)]):
            self.assertEqual(self.convert(open_bytes(source), '--level', str(level))[:2], size)
        width, height, rows = self.convert(open_bytes(source))
        self.assertEqual(len(rows[0]), 4 * width)  # RGBA: the alpha runs from 255 down to 0
        # ImageMagick widens and rounds as the gpu rule does, up to its last bit.
        for rule, most in (('gpu', 1), ('design', 8)):
            ours = dds2png.read(source, mode='RGBA', rule=rule)[2]
            self.assertEqual(len(ours), len(theirs))
            self.assertLessEqual(max(abs(a - b) for a, b in zip(ours, theirs)), most, rule)


    def test_png_writer_at_every_level_and_thread_count(self):
        # Strips of 64 KiB rather than the writer's 4 MiB: the same code on
        # a sixty-fourth of the bytes (the suite also runs under emulation).
        saved, png.STRIP_SIZE = png.STRIP_SIZE, 1 << 16
        try:
            self.check_png_writer()
        finally:
            png.STRIP_SIZE = saved

    def check_png_writer(self):
        # Images around the strip size: one strip (one zlib stream, as zlib
        # makes it), a strip and a row, and two strips and a half.
        per_strip = png.STRIP_SIZE // (1 + 3 * WRITER_WIDTH)
        for height in (per_strip, per_strip + 1, 2 * per_strip + per_strip // 2):
            rows = writer_rows(height)
            filtered = b''.join(b'\0' + row for row in rows)
            for level in range(10):
                written = {}
                for threads in (1, 2, 3):
                    out = io.BytesIO()
                    png.write_png(out, WRITER_WIDTH, height, iter(rows), level, threads)
                    written[threads] = out.getvalue()
                self.assertEqual(png_image(written[1]), (WRITER_WIDTH, height, rows), (height, level))
                # The same bytes whatever the threads (so the same pixels), so that output is reproducible.
                self.assertEqual(written[2], written[1], (height, level))
                self.assertEqual(written[3], written[1], (height, level))
                stream = idat_stream(written[1])
                # The header's FLEVEL and FCHECK as zlib writes them for the level.
                self.assertEqual(stream[:2], zlib.compress(b'', level)[:2], (height, level))
                decompressor = zlib.decompressobj()
                self.assertEqual(decompressor.decompress(stream), filtered)
                self.assertEqual(decompressor.unused_data, b'')
                if height == per_strip and level > 0:  # stored blocks (level 0) follow the input's pieces
                    self.assertEqual(stream, zlib.compress(filtered, level))
        # RGBA rows, a third longer, make strips of fewer rows.
        width = 3 * WRITER_WIDTH // 4
        height = 2 * png.rows_per_strip(width, 4) + 1
        rows = writer_rows(height)
        written = []
        for threads in (1, 2):
            out = io.BytesIO()
            png.write_png(out, width, height, iter(rows), 6, threads, mode='RGBA')
            written.append(out.getvalue())
        self.assertEqual(png_image(written[0]), (width, height, rows))
        self.assertEqual(written[1], written[0])

    def test_compression_reaches_the_png(self):
        source = self.write('in.dds', dds(8, 4, solid(COLOURS[4], 8, 4)))
        for level in (0, 1, 6, 9):
            status, err, _ = self.run_tool('--compression', str(level), '--threads', '2', source, self.path('out.png'))
            self.assertEqual((status, err), (0, ''))
            with open(self.path('out.png'), 'rb') as f:
                blob = f.read()
            self.assertEqual(png_image(blob), image(8, [(COLOURS[4], 4)]))
            self.assertEqual(idat_stream(blob)[:2], zlib.compress(b'', level)[:2], level)


    def test_sixteen_bit_pngs_hold_each_value_widened(self):
        # BC1 white under the design rule is (248, 252, 248): 16-bit samples
        # v * 257, big-endian; a BC3 alpha row of 200, 10, 172, 145 gives RGBA.
        source = self.write('white.dds', dds(4, 4, b'\xff\xff' + b'\0' * 6))
        status, err, _ = self.run_tool('--depth', '16', source, self.path('white.png'))
        self.assertEqual((status, err), (0, ''))
        with open(self.path('white.png'), 'rb') as f:
            ihdr, rows = png_samples(f.read())
        self.assertEqual(ihdr, (4, 4, 16, 2, 0, 0, 0))
        self.assertEqual(rows, [(63736, 64764, 63736) * 4] * 4)
        out = io.BytesIO()
        dds2png.convert(self.write('bc3.dds', dds(4, 4, EIGHT_VALUES + BLUE_TO_RED, fourcc=b'DXT5')), out, depth=16)
        ihdr, rows = png_samples(out.getvalue())
        self.assertEqual(ihdr[2:4], (16, 6))
        self.assertEqual(rows[0], (0, 0, 63736, 51400, 63736, 0, 0, 2570, 21074, 0, 42405, 44204,
                                   42405, 0, 21074, 37265))
        # 8 bits stay the default for 8-bit formats, and the outside reader agrees on 16.
        self.assertEqual(png_samples(open_bytes(self.convert_to(source, 'eight.png')))[0][2], 8)
        if openimageio_python():
            self.assertEqual(read_with_openimageio(self.path('white.png'), 'uint16'),
                             (4, 4, ['R', 'G', 'B'], 'uint16', [63736, 64764, 63736] * 16))

    def test_openexr_byte_differences_are_exact_in_threads_at_every_size(self):
        # ZIP's predictor, worked by hand: 10 after 250 is (10 - 250 + 128) mod 256 = 144.
        from dds2png import exr
        self.assertEqual(exr.differences(b'\xfa\x0a\x0a\x00'), b'\xfa\x90\x80\x76')
        # Conversions in threads of one process ask for the masks of several
        # block sizes at once: none may see another's half-made cache.
        failures = []

        def run(size):
            data = bytes(bytearray((7 * k + size) % 256 for k in range(size)))
            expected = data[:1] + bytes(bytearray((data[k] - data[k - 1] + 128) % 256 for k in range(1, size)))
            for _ in range(200):
                if exr.differences(data) != expected:
                    failures.append(size)
                    return
        threads = [threading.Thread(target=run, args=(size,)) for size in (2, 3, 17, 64, 255, 1000)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(failures, [])

    def test_openexr_files_read_back_by_openimageio(self):
        # Half floats of v / 255: 248 -> 0x3BC8, 252 -> 0x3BE8; alpha 200 -> 0x3A46,
        # 10 -> 0x2905; BC4's grey is the one channel Y. 40 rows are three of
        # ZIP's blocks of 16 lines; threads change no byte.
        if not openimageio_python():
            self.skipTest('OpenImageIO for %s is missing (Debian: python3-openimageio)' % OIIO_PYTHON)
        white = self.write('white.dds', dds(8, 40, b'\xff\xff' + b'\0' * 6 * 1 + (b'\xff\xff' + b'\0' * 6) * 19))
        target = self.convert_to(white, 'white.exr')
        self.assertEqual(read_with_openimageio(target), (8, 40, ['R', 'G', 'B'], 'half',
                                                         [0x3BC8, 0x3BE8, 0x3BC8] * 320))
        for threads in (1, 3):
            out = io.BytesIO()
            dds2png.convert(white, out, format='exr', threads=threads, compression=4)
            self.assertEqual(out.getvalue(), open_bytes(target), threads)  # 4: OpenEXR's own level
        alpha = self.write('bc3.dds', dds(4, 4, EIGHT_VALUES + BLUE_TO_RED, fourcc=b'DXT5'))
        width, height, names, kind, samples = read_with_openimageio(self.convert_to(alpha, 'alpha.exr'))
        self.assertEqual((width, height, names, kind), (4, 4, ['R', 'G', 'B', 'A'], 'half'))
        self.assertEqual(samples[:8], [0, 0, 0x3BC8, 0x3A46, 0x3BC8, 0, 0, 0x2905])
        grey = self.write('bc4.dds', dds(4, 4, EIGHT_VALUES, fourcc=b'ATI1'))
        self.assertEqual(read_with_openimageio(self.convert_to(grey, 'grey.exr'))[2], ['Y'])
        # --format writes one to standard output, or a batch's names.
        status, err, out = self.run_tool('--format', 'exr', grey, '-')
        self.assertEqual((status, err, out), (0, '', open_bytes(self.path('grey.exr'))))
        status, err, _ = self.run_tool('--format', 'exr', '-o', self.path('batch'), grey, alpha)
        self.assertEqual((status, sorted(os.listdir(self.path('batch')))), (0, ['bc3.exr', 'bc4.exr']))

    def test_transparent_pixels_keep_their_alpha(self):
        # Block A is in the three-colour mode (blue 0x001F <= red 0xF800), its
        # index bytes E4 giving every row blue, red, their mid-point and the
        # transparent index 3; block B is a solid, opaque colour.
        a = struct.pack('<2H4B', 0x001F, 0xF800, 0xE4, 0xE4, 0xE4, 0xE4)
        b = solid(COLOURS[1], 4, 4)
        row = b'\0\0\xf8\xff' + b'\xf8\0\0\xff' + b'\x7c\0\x7c\xff' + b'\0\0\0\0' + b'\0\xfc\0\xff' * 4
        rgba = (8, 4, [row] * 4)
        rgb = (8, 4, [b''.join(row[i:i + 3] for i in range(0, 32, 4))] * 4)  # index 3 black
        self.assertEqual(rgb[2][0][9:12], b'\0\0\0')
        source = self.write('cutout.dds', dds(8, 4, a + b))
        self.assertEqual(self.convert(dds(8, 4, a + b)), rgba)
        self.assertEqual(self.convert(dds(8, 4, a + b), '--opaque'), rgb)
        # A DX10 header that declares the alpha opaque (mode 3) gets what it declared.
        declared = dds(8, 4, a + b, dx10=(71, 3, 0, 1))
        self.assertEqual(self.convert(declared[:144] + struct.pack('<I', 3) + declared[148:]), rgb)
        # Index 3 only where the image is cropped (column 3 of a 3-pixel-wide image): no alpha.
        hidden = struct.pack('<2H4B', 0x001F, 0xF800, 0xC0, 0xC0, 0xC0, 0xC0)
        self.assertEqual(len(self.convert(dds(3, 4, hidden))[2][0]), 9)
        # From a stream, in a batch, and through the library.
        with open(source, 'rb') as f:
            process = subprocess.Popen(TOOL + ['-', self.path('stdin.png')], stdin=f, stderr=subprocess.PIPE)
            self.assertEqual((process.wait(), process.stderr.read()), (0, b''))
            process.stderr.close()
        self.assertEqual(read_png(self.path('stdin.png')), rgba)
        self.assertEqual(self.run_tool('-o', self.path('pngs'), source)[0], 0)
        self.assertEqual(read_png(self.path('pngs/cutout.png')), rgba)
        self.assertEqual(dds2png.read(source, mode='RGBA'), (8, 4, bytearray(b''.join(rgba[2]))))
        self.assertEqual(dds2png.read(source), (8, 4, bytearray(b''.join(rgb[2]))))
        self.assertRaises(ValueError, dds2png.read, source, mode='rgba')
        self.assertRaises(TypeError, dds2png.read, source, mode=4)
        dds2png.convert(source, self.path('opaque.png'), opaque=True)
        self.assertEqual(read_png(self.path('opaque.png')), rgb)


# The block family's worked blocks (docs/formats.md), and their pixels under
# the design rule: pixel k of a channel block takes index k % 8.
EIGHT_VALUES = b'\xc8\x0a\x88\xc6\xfa\x88\xc6\xfa'  # 200 > 10
EIGHT_VALUES_PIXELS = [200, 10, 172, 145, 118, 91, 64, 37]
EIGHT_VALUES_GPU = [200, 10, 173, 146, 119, 91, 64, 37]
SIX_VALUES = b'\x0a\xc9\x88\xc6\xfa\x88\xc6\xfa'  # 10 <= 201
SIX_VALUES_PIXELS = [10, 201, 48, 86, 124, 162, 0, 255]
SIGNED_VALUES = b'\x64\x9c\x88\xc6\xfa\x88\xc6\xfa'  # 100 and -100
SIGNED_VALUES_PIXELS = [228, 27, 199, 170, 142, 113, 85, 56]
BLUE_TO_RED = b'\x1f\x00\x00\xf8\xe4\xe4\xe4\xe4'  # four colours in BC2 and BC3
BLUE_TO_RED_PIXELS = [(0, 0, 248), (248, 0, 0), (82, 0, 165), (165, 0, 82)]
BLUE_TO_RED_GPU = [(0, 0, 255), (255, 0, 0), (85, 0, 170), (170, 0, 85)]
# A BC6H block in mode 11 (mode bits 00011: one region, 10-bit endpoints,
# untransformed), both endpoints equal, every index 0: each channel is its
# endpoint e unquantized, e * 64 + 32, then scaled by 31/64 (truncating):
# red 495 -> 15360.5 -> 0x3C00 (1.0); green 512 -> 0x3E0F (1.5146484375);
# blue 256 -> 0x1F0F (1807 / 2**18 = 0.0068931...). Fields from bit 0: mode
# (5 bits), then the first endpoint's red, green, blue and the second's, 10
# bits each; indices 0.
BC6H_MODE_11 = struct.pack('<QQ', *divmod(3 | 495 << 5 | 512 << 15 | 256 << 25 | 495 << 35 | 512 << 45 | 256 << 55,
                                          1 << 64)[::-1])
BC6H_MODE_11_HALVES = (0x3C00, 0x3E0F, 0x1F0F)

def channel_rows(values):
    """The four rows of a 4-pixel-wide channel block: pixel k is values[k % 8]."""
    return [values[4 * (y % 2):4 * (y % 2) + 4] for y in range(4)]


def pixel_rows(pixels):
    """Rows of a block given per row as lists of tuples."""
    return [bytes(bytearray(b for p in row for b in p)) for row in pixels]


class BlockFamily(ToolTest):
    """Each format of the family through the converter: PNG kind and pixels."""

    def test_bc3_with_alpha_below_255_is_rgba_and_opaque_bc3_is_rgb(self):
        for fourcc, dx10 in ((b'DXT5', None), (None, (77, 3, 0, 1)), (None, (78, 3, 0, 1))):
            blob = dds(4, 4, EIGHT_VALUES + BLUE_TO_RED, fourcc=fourcc or b'DXT1', dx10=dx10)
            alpha = channel_rows(EIGHT_VALUES_PIXELS)
            expected = pixel_rows([[BLUE_TO_RED_PIXELS[x] + (alpha[y][x],) for x in range(4)] for y in range(4)])
            self.assertEqual(self.convert(blob), (4, 4, expected), (fourcc, dx10))
        opaque = dds(4, 4, b'\xff\xff' + b'\0' * 6 + BLUE_TO_RED, fourcc=b'DXT5')  # index 0 everywhere: 255
        self.assertEqual(self.convert(opaque), (4, 4, pixel_rows([BLUE_TO_RED_PIXELS] * 4)))
        self.assertEqual(self.convert(dds(4, 4, EIGHT_VALUES + BLUE_TO_RED, fourcc=b'DXT5'), '--opaque'),
                         (4, 4, pixel_rows([BLUE_TO_RED_PIXELS] * 4)))

    def test_bc2_alphas_widen_by_seventeen(self):
        for fourcc, dx10 in ((b'DXT3', None), (None, (74, 3, 0, 1))):
            blob = dds(4, 4, b'\x10\x32\x54\x76\x98\xba\xdc\xfe' + BLUE_TO_RED, fourcc=fourcc or b'DXT1',
                       dx10=dx10)
            expected = pixel_rows([[BLUE_TO_RED_PIXELS[x] + (17 * (4 * y + x),) for x in range(4)] for y in range(4)])
            self.assertEqual(self.convert(blob), (4, 4, expected))

    def test_bc4_is_greyscale_and_its_value_is_red_green_and_blue_when_read(self):
        for fourcc, dx10, block, values in ((b'ATI1', None, EIGHT_VALUES, EIGHT_VALUES_PIXELS),
                                            (b'BC4U', None, SIX_VALUES, SIX_VALUES_PIXELS),
                                            (b'BC4S', None, SIGNED_VALUES, SIGNED_VALUES_PIXELS),
                                            (None, (80, 3, 0, 1), EIGHT_VALUES, EIGHT_VALUES_PIXELS),
                                            (None, (81, 3, 0, 1), SIGNED_VALUES, SIGNED_VALUES_PIXELS)):
            blob = dds(4, 4, block, fourcc=fourcc or b'DXT1', dx10=dx10)
            rows = [bytes(bytearray(r)) for r in channel_rows(values)]
            self.assertEqual(self.convert(blob), (4, 4, rows), (fourcc, dx10))
            source = self.write('bc4.dds', blob)
            self.assertEqual(dds2png.read(source, mode='L'), (4, 4, bytearray(b''.join(rows))))
            self.assertEqual(dds2png.read(source, mode='RGBA')[2][:8], bytearray([values[0]] * 3 + [255]
                                                                                 + [values[1]] * 3 + [255]))
        self.assertRaises(dds2png.ConversionError, dds2png.read, self.write('c.dds', dds(4, 4, BLUE_TO_RED)), mode='L')

    def test_bc5_is_red_and_green_with_blue_zero_or_the_normals_z(self):
        red, green = channel_rows(EIGHT_VALUES_PIXELS), channel_rows(SIX_VALUES_PIXELS)
        expected = pixel_rows([[(red[y][x], green[y][x], 0) for x in range(4)] for y in range(4)])
        for fourcc, dx10 in ((b'ATI2', None), (b'BC5U', None), (None, (83, 3, 0, 1))):
            blob = dds(4, 4, EIGHT_VALUES + SIX_VALUES, fourcc=fourcc or b'DXT1', dx10=dx10)
            self.assertEqual(self.convert(blob), (4, 4, expected))
        # Normals: (128, 128) is x = y = 1/255, z just below 1: blue 255; (255, 128) is x = 1, z = 0:
        # blue round(127.5) = 128; signed (0, 0) is x = y = 0: blue 255, and -127, -127 is z = 0.
        flat = b'\x80\x80' + b'\0' * 6
        steep = b'\xff\xff' + b'\0' * 6
        rows = self.convert(dds(4, 4, steep + flat, fourcc=b'BC5U'), '--normal-map')[2]
        self.assertEqual(rows[0][:3], bytearray([255, 128, 128]))
        rows = self.convert(dds(4, 4, flat + flat, fourcc=b'BC5U'), '--normal-map')[2]
        self.assertEqual(rows[0][:3], bytearray([128, 128, 255]))
        rows = self.convert(dds(4, 4, b'\0' * 16, fourcc=b'BC5S'), '--normal-map')[2]
        self.assertEqual(rows[0][:3], bytearray([128, 128, 255]))
        rows = self.convert(dds(4, 4, b'\x81\x81' + b'\0' * 6 + b'\x81\x81' + b'\0' * 6, fourcc=b'BC5S'),
                            '--normal-map')[2]
        self.assertEqual(rows[0][:3], bytearray([0, 0, 128]))

    def test_signed_bc5_blue_is_the_signed_zero(self):
        # Blue is zero in each kind's own mapping: 0 unsigned, 128 signed (0 would read as -1).
        # Red 127 and green -127 (0x81) are 255 and 0 as signed bytes.
        block = b'\x7f\x7f' + b'\0' * 6 + b'\x81\x81' + b'\0' * 6
        for fourcc, dx10 in ((b'BC5S', None), (None, (84, 3, 0, 1))):
            rows = self.convert(dds(4, 4, block, fourcc=fourcc or b'DXT1', dx10=dx10))[2]
            self.assertEqual(rows, [bytes(bytearray([255, 0, 128] * 4))] * 4)
            width, height, pixels = dds2png.read(io.BytesIO(dds(4, 4, block, fourcc=fourcc or b'DXT1', dx10=dx10)),
                                                 mode='RGBA')
            self.assertEqual(pixels[:4], bytearray([255, 0, 128, 255]))
        rows = self.convert(dds(4, 4, block, fourcc=b'BC5U'))[2]
        self.assertEqual(rows[0][:3], bytearray([127, 129, 0]))

    def test_the_gpu_rule(self):
        white = dds(4, 4, b'\xff\xff' + b'\0' * 6)
        self.assertEqual(self.convert(white, '--rule', 'gpu'), (4, 4, [b'\xff' * 12] * 4))
        self.assertEqual(self.convert(white), (4, 4, [b'\xf8\xfc\xf8' * 4] * 4))
        alpha = channel_rows(EIGHT_VALUES_GPU)
        expected = pixel_rows([[BLUE_TO_RED_GPU[x] + (alpha[y][x],) for x in range(4)] for y in range(4)])
        self.assertEqual(self.convert(dds(4, 4, EIGHT_VALUES + BLUE_TO_RED, fourcc=b'DXT5'), '--rule', 'gpu'),
                         (4, 4, expected))
        source = self.write('bc4.dds', dds(4, 4, EIGHT_VALUES, fourcc=b'ATI1'))
        self.assertEqual(dds2png.read(source, mode='L', rule='gpu')[2],
                         bytearray(b''.join(bytes(bytearray(r)) for r in channel_rows(EIGHT_VALUES_GPU))))
        self.assertRaises(ValueError, dds2png.read, source, rule='GPU')
        self.assertRaises(ValueError, dds2png.convert, source, self.path('x.png'), rule='')
        status, err, _ = self.run_tool('--rule', 'exact', source, self.path('x.png'))
        self.assertEqual(status, 2)

    def test_bc7_is_rgba_where_alpha_is_below_255(self):
        # Mode 6 (first byte 0x40), all fields zero: endpoints (0, 0, 0, 0) twice: transparent black.
        # A no-mode block likewise. An 8x4 file of both is RGBA.
        for dxgi in (97, 98, 99):
            self.assertEqual(self.convert(dds(8, 4, b'\x40' + b'\0' * 15 + b'\0' * 16, dx10=(dxgi, 3, 0, 1))),
                             (8, 4, [b'\0' * 32] * 4))

    def test_read_gives_each_dtype_of_8_bit_values(self):
        # An n-bit value v is v / (2**n - 1) as a float (float32 and float16
        # bits as worked, correctly rounded) and v * 257 as uint16 at 8 bits;
        # signed values are -1 to 1; alpha is full where a format has none.
        white = self.write('white.dds', dds(4, 4, b'\xff\xff' + b'\0' * 6))
        self.assertEqual(dds2png.read(white, dtype='uint16')[2][:6], words(63736, 64764, 63736))
        self.assertEqual(dds2png.read(white, dtype='float32', mode='RGBA')[2][:16],
                         singles(0x3F78F8F9, 0x3F7CFCFD, 0x3F78F8F9, 0x3F800000))
        self.assertEqual(dds2png.read(white, dtype='float16', mode='RGBA')[2][:8],
                         halves(0x3BC8, 0x3BE8, 0x3BC8, 0x3C00))
        self.assertEqual(dds2png.read(white, dtype='float16', rule='gpu')[2][:6], halves(0x3C00, 0x3C00, 0x3C00))
        self.assertEqual(dds2png.read(white, dtype='uint8'), dds2png.read(white))
        self.assertEqual(len(dds2png.read(white, dtype='float32', mode='RGBA')[2]), 16 * 16)
        # BC3's alpha 200 and 10 (EIGHT_VALUES) as uint16 and half.
        bc3 = self.write('bc3.dds', dds(4, 4, EIGHT_VALUES + BLUE_TO_RED, fourcc=b'DXT5'))
        self.assertEqual(dds2png.read(bc3, mode='RGBA', dtype='uint16')[2][:16],
                         words(0, 0, 63736, 51400, 63736, 0, 0, 2570))
        self.assertEqual(dds2png.read(bc3, mode='RGBA', dtype='float16')[2][6:8], halves(0x3A46))
        # Signed BC4: 100 and -100 (SIGNED_VALUES) as floats, and as uint16 by the signed mapping.
        signed = self.write('bc4s.dds', dds(4, 4, SIGNED_VALUES, fourcc=b'BC4S'))
        self.assertEqual(dds2png.read(signed, mode='L', dtype='float32')[2][:8], singles(0x3F499326, 0xBF499326))
        self.assertEqual(dds2png.read(signed, mode='L', dtype='float16')[2][:4], halves(0x3A4D, 0xBA4D))
        self.assertEqual(dds2png.read(signed, mode='L', dtype='uint16')[2][:4], words(58569, 6966))
        self.assertEqual(dds2png.read(signed, mode='RGBA', dtype='float16')[2][:8],
                         halves(0x3A4D, 0x3A4D, 0x3A4D, 0x3C00))
        # BC5: red and green, blue 0 (not a signed zero's 0.5), alpha full.
        bc5 = self.write('bc5s.dds', dds(4, 4, SIGNED_VALUES * 2, fourcc=b'BC5S'))
        self.assertEqual(dds2png.read(bc5, mode='RGBA', dtype='float16')[2][:8], halves(0x3A4D, 0x3A4D, 0, 0x3C00))
        bc5 = self.write('bc5.dds', dds(4, 4, EIGHT_VALUES + SIX_VALUES, fourcc=b'BC5U'))
        self.assertEqual(dds2png.read(bc5, dtype='uint16')[2][:6], words(51400, 2570, 0))
        # A normal map's blue is made at 8 bits, then widened: flat is 255 -> 65535.
        flat = self.write('flat.dds', dds(4, 4, (b'\x80\x80' + b'\0' * 6) * 2, fourcc=b'BC5U'))
        self.assertEqual(dds2png.read(flat, dtype='uint16', normal_map=True)[2][:6], words(32896, 32896, 65535))

    @unittest.skipUnless(BC6H_DECODED, '_bcn built without BC6H')
    def test_bc6h_block_of_known_halves(self):
        # BC6H_MODE_11: (1.0, 1.5146484375, 1807 / 2**18) everywhere, as stored;
        # clamped to 0..1 and rounded for the integers (1807 * 65535 / 2**18 = 451.74).
        for dxgi in (94, 95):
            source = self.write('bc6h.dds', dds(4, 4, BC6H_MODE_11, dx10=(dxgi, 3, 0, 1)))
            self.assertEqual(dds2png.read(source, dtype='float16')[2], halves(*BC6H_MODE_11_HALVES * 16))
            self.assertEqual(dds2png.read(source, dtype='float32', mode='RGBA')[2][:16],
                             singles(0x3F800000, 0x3FC1E000, 0x3BE1E000, 0x3F800000))
            self.assertEqual(dds2png.read(source, dtype='uint16')[2][:6], words(65535, 65535, 452))
            self.assertEqual(dds2png.read(source)[2][:3], bytearray([255, 255, 2]))
            # A 16-bit PNG by default; an OpenEXR file holds the halves bit for bit.
            out = io.BytesIO()
            dds2png.convert(source, out)
            ihdr, rows = png_samples(out.getvalue())
            self.assertEqual((ihdr[2:4], rows[0][:3]), ((16, 2), (65535, 65535, 452)))
            if openimageio_python():
                self.assertEqual(read_with_openimageio(self.convert_to(source, 'bc6h.exr'))[2:],
                                 (['R', 'G', 'B'], 'half', list(BC6H_MODE_11_HALVES) * 16))
        self.assertIn('BC6H_SF16, HDR (more than 8 bits a channel, or floats), signed',
                      self.run_tool('--info', self.write('sf16.dds', dds(4, 4, BC6H_MODE_11, dx10=(96, 3, 0, 1))))[2]
                      .decode('ascii'))

    def test_every_row_of_the_format_table_agrees_with_the_modules_and_the_reader(self):
        # A row with a wrong code, flag, block size, decoder or mode: each of its
        # FourCCs and DXGI numbers reads back as that row with its flags (the
        # flags as the DXGI name says), each function it names decodes one
        # block of its bytes into one block of the channels it claims, and a
        # one-block file of each code is read in every mode the row accepts
        # (len(mode) bytes a pixel), refused in the others, and converted to
        # a PNG of one of its PNG modes: the first, without alpha, with --opaque.
        from dds2png import decode, dds as layout, formats
        colour_types = {'L': 0, 'LA': 4, 'RGB': 2, 'RGBA': 6}  # PNG's own numbers
        for row in formats.ENCODINGS:
            if row.png_modes:
                self.assertFalse(formats.PIXEL_MODES[row.png_modes[0]].alpha, row.name)
                self.assertEqual([formats.PIXEL_MODES[mode].alpha for mode in row.png_modes[1:]],
                                 [True] * (len(row.png_modes) - 1), row.name)
            if isinstance(row.decoding, formats.Layout):
                # A field a channel (a palette's index one), the pixel as wide as the block says.
                self.assertEqual(len(row.decoding.fields), 1 if row.decoding.channels == 'P'
                                 else len(row.decoding.channels), row.name)
                self.assertEqual(row.decoding.pixel_bits * row.block[0], 8 * row.block[2], row.name)
            for decoding in ([row.decoding] + [pair[1] for pair in row.design]
                             if row.decoded and not isinstance(row.decoding, formats.Layout) else []):
                function = getattr(decode.MODULES[decoding.module], decoding.function)
                for signed in ((False, True) if decoding.signed else ((),)):
                    planes = function(b'\0' * row.block[2], *([signed] if decoding.signed else []),
                                      **({'rule': 'gpu'} if decoding.rule else {}))
                    pixel = formats.PIXEL_MODES[decoding.channels].pixel_bytes(decoding.sample)
                    self.assertEqual([len(plane) for plane in planes], [row.block[0] * pixel]
                                     * row.block[1], (row.name, decoding))
            files = []
            surface = b'\0' * (-(-4 // row.block[0]) * -(-4 // row.block[1]) * row.block[2])  # 4 x 4 pixels
            for fourcc, flags in row.fourccs:
                fmt = layout.Format.of_legacy(fourcc, 0x4, 0)
                self.assertEqual((fmt.encoding, fmt.flags), (row, flags), fourcc)
                files.append(dds(4, 4, surface, fourcc=fourcc))
            for number, flags in row.dxgi:
                fmt = layout.Format.of_dxgi(number)
                self.assertEqual((fmt.encoding, fmt.flags), (row, flags), number)
                self.assertEqual(((fmt.name + '_').startswith(row.name + '_'), bool(flags & formats.SRGB),
                                  bool(flags & formats.TYPELESS), bool(flags & formats.SIGNED)),
                                 (True, fmt.name.endswith('_SRGB'), fmt.name.endswith('_TYPELESS'),
                                  fmt.name.endswith(('_SNORM', '_SF16', '_SINT'))), number)
                files.append(dds(4, 4, surface, dx10=(number, 3, 0, 1)))
            for masks, flags in row.masks:
                fmt = layout.Format.of_legacy(b'\0' * 4, 0x40, masks[0], masks[1:])
                self.assertEqual((fmt.encoding, fmt.flags), (row, flags), masks)
            for blob in files:
                if not row.decoded:
                    with self.assertRaises(dds2png.UnsupportedFormatError) as refused:
                        dds2png.read(io.BytesIO(blob))
                    self.assertIn('only BC1, BC2, BC3, BC4, BC5, BC7 and RXGB blocks and uncompressed layouts other than video are decoded', str(refused.exception))
                    continue
                for mode in ('L', 'LA', 'RGB', 'RGBA'):
                    if mode in row.read_modes:
                        self.assertEqual(dds2png.read(io.BytesIO(blob), mode=mode)[:2], (4, 4))
                        self.assertEqual(len(dds2png.read(io.BytesIO(blob), mode=mode)[2]), 16 * len(mode))
                    else:
                        self.assertRaises(dds2png.ConversionError, dds2png.read, io.BytesIO(blob), mode=mode)
                for opaque in (False, True):
                    out = io.BytesIO()
                    dds2png.convert(io.BytesIO(blob), out, opaque=opaque)
                    allowed = row.png_modes[:1] if opaque else row.png_modes
                    self.assertIn(bytearray(out.getvalue())[25], [colour_types[mode] for mode in allowed], row.name)
        self.assertEqual(formats.READ_MODES, ('L', 'LA', 'RGB', 'RGBA'))

    def test_levels_of_sixteen_byte_blocks(self):
        # An 8x4 DXT5 texture with its 4x2 and 2x1 levels: each level's blocks after the last.
        level0 = (EIGHT_VALUES + BLUE_TO_RED) * 2
        level1 = b'\xff\xff' + b'\0' * 6 + BLUE_TO_RED
        level2 = b'\xff\xff' + b'\0' * 6 + b'\xff\xff\0\0\0\0\0\0'
        source = self.write('in.dds', dds(8, 4, level0 + level1 + level2, fourcc=b'DXT5', levels=3))
        self.assertEqual(dds2png.read(source, level=1, mode='RGBA')[:2], (4, 2))
        self.assertEqual(dds2png.read(source, level=1, mode='RGBA')[2][:8], bytearray([0, 0, 248, 255, 248, 0, 0, 255]))
        self.assertEqual(dds2png.read(source, level=2)[2], bytearray([248, 252, 248] * 2))
        self.assertRaises(dds2png.TruncatedError, dds2png.read, self.write('short.dds', dds(8, 4, level0[:-1],
                                                                                             fourcc=b'DXT5')))


def pixels_of(*values):
    return bytearray(values)


def dx10_layout(number, width, surface, alpha_mode=0):
    """A one-row DX10 file of DXGI format `number`, `width` pixels wide."""
    blob = dds(width, 1, surface, dx10=(number, 3, 0, 1))
    return blob[:144] + struct.pack('<I', alpha_mode) + blob[148:]


class Layouts(ToolTest):
    """Surfaces of whole pixels: each field kind's rule, channel mapping, pitches, palettes and
    premultiplied colours, through read() and the PNG."""

    def read(self, blob, mode, **options):
        return dds2png.read(io.BytesIO(blob), mode=mode, **options)[2]

    def test_unorm_fields_widen_by_rounding_to_255_over_their_largest_value(self):
        # 5-6-5 0x8410: 16 of 31 -> round(131.6) = 132, 32 of 63 -> round(129.5) = 130.
        self.assertEqual(self.read(dx10_layout(85, 1, struct.pack('<H', 0x8410)), 'RGB'), pixels_of(132, 130, 132))
        # 0x1234 in B4G4R4A4 (blue in the low bits) and A4B4G4R4 (alpha in the low bits): 17 a step.
        self.assertEqual(self.read(dx10_layout(115, 1, struct.pack('<H', 0x1234)), 'RGBA'), pixels_of(34, 51, 68, 17))
        self.assertEqual(self.read(dx10_layout(191, 1, struct.pack('<H', 0x1234)), 'RGBA'), pixels_of(17, 34, 51, 68))
        # 10-10-10-2: 1023, 512 (round(127.6) = 128), 0, alpha 1 of 3 = 85.
        pixel = 1023 | 512 << 10 | 1 << 30
        self.assertEqual(self.read(dx10_layout(24, 1, struct.pack('<I', pixel)), 'RGBA'), pixels_of(255, 128, 0, 85))
        # 16 bits: 0x8080 is 128 exactly, 1000 is 3.9.
        self.assertEqual(self.read(dx10_layout(56, 2, struct.pack('<2H', 0x8080, 1000)), 'L'), pixels_of(128, 4))
        # 32-bit TYPELESS reads as unorm: 0x80000000 is 128 (127.500000007), 0x12345678 is 18.
        surface = struct.pack('<2I', 0x80000000, 0x12345678)
        self.assertEqual(self.read(dx10_layout(39, 2, surface), 'L'), pixels_of(128, 18))
        self.assertEqual(self.read(dx10_layout(15, 1, surface), 'RGB'), pixels_of(128, 18, 0))
        # ... and as float32 rounds once: 0xFFFFFF7F is the single below 1.0, not 1.0.
        self.assertEqual(self.read(dx10_layout(39, 1, struct.pack('<I', 0xFFFFFF7F)), 'L', dtype='float32'),
                         struct.pack('=I', 0x3F7FFFFF))
        # Legacy B8G8R8A8 by its masks; the same bytes as DX10 R8G8B8A8 swap red and blue.
        legacy = layout_dds(1, 1, b'\x01\x02\x03\x04', 32, (0xFF0000, 0xFF00, 0xFF, 0xFF000000), pf_flags=0x41)
        self.assertEqual(self.read(legacy, 'RGBA'), pixels_of(3, 2, 1, 4))
        self.assertEqual(self.read(dx10_layout(28, 1, b'\x01\x02\x03\x04'), 'RGBA'), pixels_of(1, 2, 3, 4))

    def test_signed_fields_map_as_bc4s_values_do_and_blue_is_a_signed_zero(self):
        # R8G8_SNORM: -128 reads as -127 (0), 127 is 255; 0 is 128, -1 is round(126 * 255 / 254) = 126.
        surface = struct.pack('<4b', -128, 127, 0, -1)
        self.assertEqual(self.read(dx10_layout(51, 2, surface), 'RGB'), pixels_of(0, 255, 128, 128, 126, 128))
        # A legacy du/dv layout is signed the same way, and SINT reads as SNORM.
        bump = layout_dds(2, 1, surface, 16, (0xFF, 0xFF00, 0, 0), pf_flags=0x80000)
        self.assertEqual(self.read(bump, 'RGB'), pixels_of(0, 255, 128, 128, 126, 128))
        self.assertEqual(self.read(dx10_layout(52, 2, surface), 'RGB'), pixels_of(0, 255, 128, 128, 126, 128))
        # 16 bits: 16384 is (16384 / 32767 + 1) / 2 * 255 = 191.25.
        self.assertEqual(self.read(dx10_layout(58, 1, struct.pack('<h', 16384)), 'L'), pixels_of(191))

    def test_floats_shared_exponents_and_the_xr_bias_decode_then_clamp(self):
        # Halves 0.25, 1, -1 and infinity: 64, 255, 0, 255.
        halves = struct.pack('<4H', 0x3400, 0x3C00, 0xBC00, 0x7C00)
        self.assertEqual(self.read(dx10_layout(54, 4, halves), 'L'), pixels_of(64, 255, 0, 255))
        self.assertEqual(self.read(dds(4, 1, halves, fourcc=b'\x6f\0\0\0'), 'L'), pixels_of(64, 255, 0, 255))
        self.assertEqual(self.read(dx10_layout(41, 2, struct.pack('<2f', 0.25, 2.0)), 'L'), pixels_of(64, 255))
        # 11-11-10 floats 1.0 (exponent 15), 0.5 (14) and 0.25 (13 of the 10-bit float's 5 exponent bits).
        pixel = 15 << 6 | (14 << 6) << 11 | (13 << 5) << 22
        self.assertEqual(self.read(dx10_layout(26, 1, struct.pack('<I', pixel)), 'RGB'), pixels_of(255, 128, 64))
        # 9-9-9-e5: 256 and 128 times 2^(15 - 24): 0.5 and 0.25.
        pixel = 256 | 128 << 9 | 15 << 27
        self.assertEqual(self.read(dx10_layout(67, 1, struct.pack('<I', pixel)), 'RGB'), pixels_of(128, 64, 0))
        # XR bias: (v - 384) / 510 for 894 (1), 639 (0.5: 127.5) and 100 (below 0); alpha 3 of 3.
        pixel = 894 | 639 << 10 | 100 << 20 | 3 << 30
        self.assertEqual(self.read(dx10_layout(89, 1, struct.pack('<I', pixel)), 'RGBA'), pixels_of(255, 128, 0, 255))

    def test_channels_map_as_the_block_formats_do(self):
        # One channel is grey; alpha alone is black with that alpha; luminance and alpha a grey-alpha PNG.
        grey = dx10_layout(61, 2, b'\x10\x20')
        self.assertEqual(self.convert(grey), (2, 1, [b'\x10\x20']))
        self.assertEqual(self.read(grey, 'RGBA'), pixels_of(16, 16, 16, 255, 32, 32, 32, 255))
        alpha = dx10_layout(65, 2, b'\x80\xff')
        self.assertEqual(self.convert(alpha), (2, 1, [b'\0\0\0\x80\0\0\0\xff']))
        self.assertEqual(self.convert(dx10_layout(65, 1, b'\xff')), (1, 1, [b'\0\0\0']))
        luminance_alpha = layout_dds(2, 1, b'\x10\x80\x20\xff', 16, (0xFF, 0, 0, 0xFF00), pf_flags=0x20001)
        target = self.path('la.png')
        dds2png.convert(io.BytesIO(luminance_alpha), target)
        with open(target, 'rb') as f:
            self.assertEqual(bytearray(f.read())[25], 4)  # PNG's grey with alpha
        self.assertEqual(read_png(target), (2, 1, [b'\x10\x80\x20\xff']))
        self.assertEqual(self.read(luminance_alpha, 'L'), pixels_of(16, 32))
        # An 8-bit luminance is its byte, whatever mask a writer gave it.
        self.assertEqual(self.read(layout_dds(1, 1, b'\x42', 8, (0xFF000000, 0, 0, 0), pf_flags=0x20000), 'L'),
                         pixels_of(0x42))

    def test_rows_are_whole_bytes_whatever_the_pitch_field_says(self):
        # R1: 10 pixels, two bytes a row, the first pixel in the highest bit.
        ones = dds(10, 2, b'\xa0\x40' + b'\xff\xc0', dx10=(66, 3, 0, 1), pitch=4)
        self.assertEqual(self.convert(ones), (10, 2, [b'\xff\0\xff' + b'\0' * 6 + b'\xff', b'\xff' * 10]))
        # 24-bit rows of 3 pixels are 9 bytes, though the pitch field claims 12.
        surface = bytes(bytearray(range(18)))
        rgb = layout_dds(3, 2, surface, 24, (0xFF0000, 0xFF00, 0xFF, 0), pitch=12)
        self.assertEqual(self.read(rgb, 'RGB')[9:12], pixels_of(11, 10, 9))

    def test_a_palette_and_red_kept_in_alpha(self):
        # Entries red, green, blue, alpha; one index byte a pixel.
        palette = b''.join(struct.pack('<4B', n, 255 - n, n // 2, 255 if n else 0) for n in range(256))
        blob = layout_dds(3, 1, palette + b'\x00\x01\xff', 8, (0, 0, 0, 0), pf_flags=0x20)
        self.assertEqual(self.read(blob, 'RGBA'), pixels_of(0, 255, 0, 0, 1, 254, 0, 255, 255, 0, 127, 255))
        # RXGB: BC3 whose alpha (200 everywhere) is red; alpha opaque, so an RGB PNG.
        block = b'\xc8\xc8' + b'\0' * 6 + b'\xff\xff\xff\xff' + b'\0' * 4
        self.assertEqual(self.convert(dds(4, 4, block, fourcc=b'RXGB')), (4, 4, [b'\xc8\xfc\xf8' * 4] * 4))

    def test_premultiplied_colours_are_divided_by_alpha_unless_asked_as_stored(self):
        # BC2 alphas 17 * (4y + x); colours BLUE_TO_RED. Straight: min(255, round(c * 255 / a)), 0 where a is 0.
        for blob in (dds(4, 4, b'\x10\x32\x54\x76\x98\xba\xdc\xfe' + BLUE_TO_RED, fourcc=b'DXT2'),
                     dds(4, 4, b'\x10\x32\x54\x76\x98\xba\xdc\xfe' + BLUE_TO_RED, dx10=(74, 3, 0, 1))[:144]
                     + struct.pack('<I', 2) + dds(4, 4, b'\x10\x32\x54\x76\x98\xba\xdc\xfe' + BLUE_TO_RED,
                                                   dx10=(74, 3, 0, 1))[148:]):
            pixels = self.read(blob, 'RGBA')
            self.assertEqual(pixels[0:8], pixels_of(0, 0, 0, 0, 255, 0, 0, 17))
            self.assertEqual(pixels[56:64], pixels_of(88, 0, 177, 238, 165, 0, 82, 255))  # row 3, x = 2 and 3
            self.assertEqual(self.read(blob, 'RGBA', premultiplied=True)[56:60], pixels_of(82, 0, 165, 238))
            self.assertEqual(self.read(blob, 'RGB')[42:48], pixels_of(88, 0, 177, 165, 0, 82))
            self.assertEqual(self.convert(blob)[2][3][8:16], bytes(pixels[56:64]))
        # 8-bit RGBA layouts with alpha mode 2: 100 at alpha 200 is 127.5, 128.
        blob = dx10_layout(28, 1, b'\x64\x00\xc8\xc8', alpha_mode=2)
        self.assertEqual(self.read(blob, 'RGBA'), pixels_of(128, 0, 255, 200))


class Permissive(ToolTest):
    """Headers writers get wrong, read as meant and said in --info; what stays refused."""

    def mended(self, blob, expected_pixels, phrase):
        source = self.write('in.dds', blob)
        self.assertEqual(dds2png.read(source)[2][:len(expected_pixels)], expected_pixels)
        self.assertIn(phrase, dds2png.info(source).mended)
        self.assertIn(phrase, dds2png.info(io.BytesIO(blob)).mended)  # a stream's size mends it as a file's does
        status, err, out = self.run_tool('--info', source)
        self.assertIn(phrase, out.decode('utf-8'))

    def test_each_mend(self):
        red = image(4, [(COLOURS[0], 4)])[2][0][:3]
        good = dds(4, 4, solid(COLOURS[0], 4, 4))
        self.mended(good[:4] + struct.pack('<I', 24) + good[8:], red, 'header size 24 read as 124')
        self.mended(good[:76] + struct.pack('<I', 0) + good[80:], red, 'pixel-format size 0 read as 32')
        self.mended(dds(4, 4, solid(COLOURS[0], 4, 4), pf_flags=0), red, 'FourCC flag missing')
        self.mended(layout_dds(1, 1, b'\x01\x02\x03', 24, (0xFF0000, 0xFF00, 0xFF, 0), pf_flags=0),
                    pixels_of(3, 2, 1), 'pixel-format flags 0x40 read as RGB from its masks')
        self.mended(layout_dds(1, 1, b'\x01\x02\x03', 24, (0, 0, 0, 0)), pixels_of(3, 2, 1),
                    'masks 0 read as the common 24-bit layout')
        self.mended(dds(4, 4, solid(COLOURS[0], 4, 4), dx10=(71, 3, 0, 0)), red, 'array size 0 read as 1')
        self.mended(dds(4, 4, solid(COLOURS[0], 4, 4), levels=0xFFFFFFFF), red,
                    '4294967295 mip levels read as 3 (a 4x4 texture has at most 3)')
        self.mended(dds(4, 4, solid(COLOURS[0], 4, 4) + b'\0' * 8, levels=3), red,
                    '3 mip levels read as 2 (the data holds 2 whole)')
        both = dds(1, 1, b'\x01\x02\x03\x04', dx10=(28, 3, 0, 1))
        self.mended(both[:80] + struct.pack('<I', 0x44) + both[84:88] + struct.pack('<I', 32) + both[92:],
                    pixels_of(1, 2, 3), 'legacy pixel format beside the DX10 header ignored')
        # A DX10 cube whose array size counts its six faces, with one cube's data: each face's colour.
        faces = b''.join(solid(COLOURS[f], 4, 4) for f in range(6))
        source = self.write('cube.dds', dds(4, 4, faces, dx10=(71, 3, 4, 6)))
        self.assertEqual(dds2png.read(source, layer=5)[2][:3], bytearray(pixel(COLOURS[5])))
        with open(source, 'rb') as stream:
            self.assertEqual(dds2png.read(io.BytesIO(stream.read()), layer=5), dds2png.read(source, layer=5))
        # Two array elements of 4 x 4 whose header claims 3 levels where the data holds 1: element 1 follows 0.
        array = dds(4, 4, solid(COLOURS[0], 4, 4) + solid(COLOURS[1], 4, 4), dx10=(71, 3, 0, 2), levels=3)
        self.assertEqual(dds2png.read(io.BytesIO(array), layer=1)[2][:3], bytearray(pixel(COLOURS[1])))
        self.assertEqual(dds2png.read(self.write('array.dds', array), layer=1)[2][:3], bytearray(pixel(COLOURS[1])))
        self.assertEqual(dds2png.info(source).layers, (6,))
        self.assertIn('array size 6 read as one cube map (6 faces)', dds2png.info(source).mended)

    def test_what_stays_refused(self):
        # Wrong sizes with a format not read are malformed; a first level that is short is truncated.
        blob = dds(8, 8, b'\0' * 32, fourcc=b'ETC1')
        self.assertRaises(dds2png.MalformedError, dds2png.read, io.BytesIO(blob[:4] + b'\0' * 4 + blob[8:]))
        self.assertRaises(dds2png.TruncatedError, dds2png.read, io.BytesIO(dds(8, 8, b'\0' * 31, levels=4)))
        self.assertRaises(dds2png.TruncatedError, dds2png.read,
                          self.write('short.dds', dds(4, 4, b'\0' * 47, dx10=(71, 3, 4, 6))))


class LevelsAndLayers(ToolTest):
    def test_all_refuses_a_header_whose_levels_and_layers_the_data_does_not_hold(self):
        # Four billion layers claimed over one block: no name is made for each,
        # alone or in a batch, and no traceback.
        huge = self.write('huge.dds', dds(4, 4, b'\0' * 8, dx10=(71, 3, 0, 0xFFFFFFFF)))
        unknown = self.write('unknown.dds', dds(4, 4, b'\0' * 8, dx10=(200, 3, 0, 0xFFFFFFFF)))
        status, err, _ = self.run_tool('--layer', 'all', huge, self.path('out.png'))
        self.assertNotEqual(status, 0)
        self.assertEqual(err, 'dds2png: %s: truncated surface data: 8 bytes of 34359738360\n' % huge)
        status, err, _ = self.run_tool('--level', 'all', unknown, self.path('out.png'))
        self.assertIn('DXGI format 200', err)
        self.assertNotIn('Traceback', err)
        good = self.write('good.dds', dds(4, 4, solid(COLOURS[0], 4, 4)))
        status, err, _ = self.run_tool('--layer', 'all', '-o', self.path('pngs'), huge, good)
        self.assertEqual(status, 1)
        self.assertTrue(os.path.exists(os.path.join(self.path('pngs'), 'good-layer0.png')))
        self.assertNotIn('Traceback', err)

    def test_each_mip_level(self):
        surface = b''.join(solid(COLOURS[n], max(1, 8 >> n), max(1, 4 >> n)) for n in range(4))
        blob = dds(8, 4, surface, levels=4)
        for level in range(4):
            self.assertEqual(self.convert(blob, '--level', str(level)),
                             image(max(1, 8 >> level), [(COLOURS[level], max(1, 4 >> level))]))

    def test_cube_maps_stack_their_faces_in_storage_order(self):
        # Each face stores its two levels in turn: 4 x 4, then 2 x 2.
        faces = b''.join(solid(COLOURS[f], 4, 4) + solid(COLOURS[7 - f], 2, 2) for f in range(6))
        legacy = dds(4, 4, faces, levels=2, caps2=CUBE)
        dx10 = dds(4, 4, faces, levels=2, dx10=(71, 3, 0x4, 1))
        for blob in (legacy, dx10):
            self.assertEqual(self.convert(blob), image(4, [(COLOURS[f], 4) for f in range(6)]))
            self.assertEqual(self.convert(blob, '--layer', '4'), image(4, [(COLOURS[4], 4)]))
            self.assertEqual(self.convert(blob, '--level', '1', '--layer', '5'), image(2, [(COLOURS[2], 2)]))

    def test_a_cube_map_with_fewer_faces_has_only_those(self):
        faces = solid(COLOURS[0], 4, 4) + solid(COLOURS[3], 4, 4)
        blob = dds(4, 4, faces, caps2=0x200 | 0x400 | 0x2000)  # +X and -Y
        self.assertEqual(self.convert(blob), image(4, [(COLOURS[0], 4), (COLOURS[3], 4)]))

    def test_texture_arrays(self):
        blob = dds(8, 4, b''.join(solid(COLOURS[i], 8, 4) for i in range(3)), dx10=(72, 3, 0, 3))
        self.assertEqual(self.convert(blob), image(8, [(COLOURS[i], 4) for i in range(3)]))
        self.assertEqual(self.convert(blob, '--layer', '1'), image(8, [(COLOURS[1], 4)]))

    def test_volume_slices_are_layers(self):
        # Level 0 holds three 4 x 4 slices, level 1 one 2 x 2 slice.
        slices = b''.join(solid(COLOURS[s], 4, 4) for s in range(3)) + solid(COLOURS[5], 2, 2)
        for blob in (dds(4, 4, slices, levels=2, depth=3, caps2=VOLUME),
                     dds(4, 4, slices, levels=2, depth=3, dx10=(71, 4, 0, 1))):
            self.assertEqual(self.convert(blob), image(4, [(COLOURS[s], 4) for s in range(3)]))
            self.assertEqual(self.convert(blob, '--layer', '2'), image(4, [(COLOURS[2], 4)]))
            self.assertEqual(self.convert(blob, '--level', '1'), image(2, [(COLOURS[5], 2)]))


    def outputs(self):
        return sorted(name for name in os.listdir(self.dir) if name.endswith('.png'))

    def test_every_level_and_every_layer_by_name(self):
        faces = b''.join(solid(COLOURS[f], 4, 4) + solid(COLOURS[7 - f], 2, 2) for f in range(6))
        source = self.write('cube.dds', dds(4, 4, faces, levels=2, caps2=CUBE))
        target = self.path('x.png')
        self.assertEqual(self.run_tool('--level', 'all', source, target)[:2], (0, ''))
        self.assertEqual(self.outputs(), ['x-level0.png', 'x-level1.png'])
        self.assertEqual(read_png(self.path('x-level1.png')), image(2, [(COLOURS[7 - f], 2) for f in range(6)]))
        for name in self.outputs():
            os.remove(self.path(name))
        self.assertEqual(self.run_tool('--layer', 'all', '--level', '1', source, target)[:2], (0, ''))
        self.assertEqual(self.outputs(), ['x-layer+X.png', 'x-layer+Y.png', 'x-layer+Z.png',
                                          'x-layer-X.png', 'x-layer-Y.png', 'x-layer-Z.png'])
        self.assertEqual(read_png(self.path('x-layer-Y.png')), image(2, [(COLOURS[4], 2)]))
        # A face by name, the minus sign's after `=` (else it reads as an option).
        self.assertEqual(self.run_tool('--layer=-Y', source, self.path('face.png'))[:2], (0, ''))
        self.assertEqual(read_png(self.path('face.png')), image(4, [(COLOURS[3], 4)]))
        # Both: one PNG for each level's each layer, a volume's slices fewer at each level.
        slices = b''.join(solid(COLOURS[s], 4, 4) for s in range(2)) + solid(COLOURS[5], 2, 2)
        volume = self.write('volume.dds', dds(4, 4, slices, levels=2, depth=2, caps2=VOLUME))
        os.mkdir(self.path('v'))
        self.assertEqual(self.run_tool('--level', 'all', '--layer', 'all', volume, self.path('v/'))[:2], (0, ''))
        self.assertEqual(sorted(os.listdir(self.path('v'))), ['volume-level0-layer0.png', 'volume-level0-layer1.png',
                                                              'volume-level1-layer0.png'])
        self.assertEqual(read_png(self.path('v/volume-level1-layer0.png')), image(2, [(COLOURS[5], 2)]))
        # In a batch too, each input's outputs named from its own.
        array = self.write('array.dds', dds(8, 4, b''.join(solid(COLOURS[i], 8, 4) for i in range(3)),
                                            dx10=(72, 3, 0, 3)))
        status, err, _ = self.run_tool('--layer', 'all', '-o', self.path('b'), array, volume)
        self.assertEqual((status, err), (0, 'dds2png: 5 converted, 0 failed\n'))
        self.assertEqual(sorted(os.listdir(self.path('b'))), ['array-layer0.png', 'array-layer1.png',
                                                              'array-layer2.png', 'volume-layer0.png',
                                                              'volume-layer1.png'])
        self.assertEqual(read_png(self.path('b/array-layer2.png')), image(8, [(COLOURS[2], 4)]))

    def test_a_layer_the_file_lacks_says_the_range(self):
        cube = self.write('cube.dds', dds(4, 4, solid(COLOURS[0], 4, 4) * 2, caps2=0x200 | 0x400 | 0x2000))
        array = self.write('array.dds', dds(4, 4, solid(COLOURS[0], 4, 4) * 2, dx10=(71, 3, 0, 2)))
        for options, source, expected in [
                (['--layer', '2'], cube, 'no layer 2: level 0 has layers 0 to 1'),
                (['--layer', '+Y'], cube, 'no layer +Y: the cube map stores +X -Y'),
                (['--layer', '+X'], array, 'no layer +X: not a cube map'),
                (['--layer', '+X', '--level', 'all'], array, 'no layer +X: not a cube map'),
                (['--level', '1'], array, 'no mip level 1: the file has level 0 only')]:
            status, err, _ = self.run_tool(*(options + [source, self.path('x.png')]))
            self.assertEqual((status, err), (2, 'dds2png: %s: %s\n' % (source, expected)), options)
        self.assertEqual(self.outputs(), [])
        status, err, _ = self.run_tool('--layer', 'north', cube, self.path('x.png'))
        self.assertEqual(status, 2)
        self.assertIn("a layer is a number, a cube face (+X -X +Y -Y +Z -Z) or 'all', not 'north'", err)
        # Standard streams have no name to number outputs from, nor a header to read twice.
        for args in (['--level', 'all', '-', self.path('x.png')], ['--layer', 'all', cube, '-'],
                     ['--layer', '+X', '-', self.path('x.png')]):
            status, err, _ = self.run_tool(*args)
            self.assertEqual((status, err.splitlines()[-1].split(':')[:2]), (2, ['dds2png', ' error']), args)
        self.assertEqual(self.outputs(), [])


class BadFiles(ToolTest):
    def check_refused(self, source, expected, *options):
        target = self.path('bad.png')
        status, err, _ = self.run_tool(*(list(options) + [source, target]))
        self.assertEqual(status, 2, expected)
        self.assertTrue(err.startswith('dds2png: %s: ' % source) and expected in err, err)
        self.assertEqual(err.count('\n'), 1, err)
        self.assertFalse(os.path.exists(target), expected)

    def test_bad_files_are_refused_in_one_line(self):
        good = dds(8, 8, b'\0' * 32)
        cases = [
            ('not a DDS file', b'PNG and more bytes than a header' * 8),
            ('not a DDS file', b''),
            ('truncated DDS header', good[:100]),
            ('truncated surface', good[:-1]),
            ("FourCC 'ETC1' data; only BC1, BC2, BC3, BC4, BC5, BC6H, BC7 and RXGB blocks and uncompressed layouts other than video are decoded",
             dds(8, 8, b'\0' * 32, fourcc=b'ETC1')),
            ('DX10 header with DXGI format 103 (NV12)', dds(8, 8, b'\0' * 64, dx10=(103, 3, 0, 1))),
            ('DX10 header with DXGI format 200; only', dds(8, 8, b'\0' * 64, dx10=(200, 3, 0, 1))),
            # Masks that are not one run of bits each, or that overlap, say no layout.
            ('uncompressed 32-bit RGB data', layout_dds(8, 8, b'\0' * 256, 32, (0xF0F0, 0xFF0000, 0xFF, 0))),
            ('uncompressed 16-bit RGB data', layout_dds(8, 8, b'\0' * 128, 16, (0xFF, 0xFF0, 0, 0))),
            ('DXGI format 100 (AYUV); video layouts (YUV) are not decoded', dds(8, 8, b'\0' * 256, dx10=(100, 3, 0, 1))),
            ('uncompressed 16-bit YUV data; video', layout_dds(8, 8, b'\0' * 128, 16, (0, 0, 0, 0), pf_flags=0x200)),
            ("FourCC 'YUY2' data; video", dds(8, 8, b'\0' * 128, fourcc=b'YUY2')),
            ('sizes 24 and 32', dds(8, 8, b'\0' * 128, fourcc=b'ETC1')[:4] + struct.pack('<I', 24)
             + dds(8, 8, b'\0' * 128, fourcc=b'ETC1')[8:]),
            ('zero image dimension', dds(0, 8, b'')),
            ('zero image dimension', dds(8, 0, b'')),
            ('exceed', dds(1 << 20, 4, b'\0' * 64)),
            ('too tall for a PNG', dds(8, 8, b'\0' * 32, dx10=(71, 3, 0, 0xFFFFFFFF))),
            ('truncated surface data: 32 bytes of 2097120', dds(8, 8, b'\0' * 32, dx10=(71, 3, 0, 0xFFFF))),
        ]
        for expected, blob in cases:
            self.check_refused(self.write('bad.dds', blob), expected)

    def test_contradictory_headers_are_malformed(self):
        cases = [
            ('a volume texture flagged as a cube map', dds(4, 4, solid(COLOURS[0], 4, 4) * 6, depth=6,
                                                           caps2=CUBE | VOLUME)),
            ('a 1D texture 4 pixels high', dds(8, 4, solid(COLOURS[0], 8, 4), dx10=(71, 2, 0, 1))),
            ('resource dimension 1', dds(8, 4, solid(COLOURS[0], 8, 4), dx10=(71, 1, 0, 1))),
            ('resource dimension 5', dds(8, 4, solid(COLOURS[0], 8, 4), dx10=(71, 5, 0, 1))),
        ]
        for expected, blob in cases:
            self.check_refused(self.write('bad.dds', blob), 'malformed DDS header (' + expected
                               if b'DX10' not in blob else 'malformed DX10 header (' + expected)
            self.assertRaises(dds2png.MalformedError, dds2png.info, io.BytesIO(blob))
        # A 1D texture one row high is read as the row it is.
        self.assertEqual(self.convert(dds(8, 1, solid(COLOURS[1], 8, 1), dx10=(71, 2, 0, 1))),
                         image(8, [(COLOURS[1], 1)]))

    def test_devices_and_folders_as_input(self):
        self.check_refused('/dev/zero', 'not a DDS file')
        self.check_refused(self.dir, 'directory')
        self.check_refused(self.path('missing.dds'), 'No such file')

    def test_levels_and_layers_the_file_lacks(self):
        source = self.write('in.dds', dds(8, 8, solid(COLOURS[0], 8, 8) * 6, caps2=CUBE))
        self.check_refused(source, 'no mip level 1: the file has level 0 only', '--level', '1')
        self.check_refused(source, 'no layer 6: level 0 has layers 0 to 5', '--layer', '6')


class OutputSafety(ToolTest):
    def setUp(self):
        ToolTest.setUp(self)
        self.source = self.write('in.dds', dds(8, 4, solid(COLOURS[2], 8, 4)))
        with open(self.source, 'rb') as f:
            self.original = f.read()
        self.expected = image(8, [(COLOURS[2], 4)])

    def check_refused(self, target, expected, **kwargs):
        status, err, _ = self.run_tool(self.source, target, **kwargs)
        self.assertEqual(status, 2)
        self.assertTrue(err.startswith('dds2png: %s: ' % target) and expected in err, err)
        self.assertNotIn('.tmp', err)
        with open(self.source, 'rb') as f:
            self.assertEqual(f.read(), self.original)
        self.assertEqual([name for name in os.listdir(self.dir) if name.startswith('.')], [])

    def test_the_input_is_never_the_output(self):
        self.check_refused(self.source, 'is the input file itself')
        os.link(self.source, self.path('same.png'))
        self.check_refused(self.path('same.png'), 'is the input file itself')

    def test_missing_folder_and_folder_as_output(self):
        self.check_refused(self.path('nodir/out.png'), 'No such file or directory')
        os.mkdir(self.path('folder'))
        with self.assertRaises(dds2png.ConversionError) as raised:
            dds2png.convert(self.source, self.path('folder'))
        self.assertEqual(raised.exception.reason, 'Is a directory')
        # The command takes a folder as OUTPUT for DIR/<name>.png.
        self.assertEqual(self.run_tool(self.source, self.path('folder'))[:2], (0, ''))
        self.assertEqual(read_png(self.path('folder/in.png')), self.expected)

    def test_a_file_the_user_may_not_write_is_refused(self):
        target = self.write('locked.png', b'keep me')
        os.chmod(target, 0o444)
        if os.geteuid() != 0:
            self.check_refused(target, 'Permission denied')
        else:
            # The superuser may write anything: convert as nobody, in a folder nobody may write to.
            os.chmod(self.dir, 0o777)
            os.chmod(self.source, 0o644)
            status, err = self.run_as_nobody(self.source, target)
            self.assertEqual(status, 2)
            self.assertEqual(err, 'dds2png: %s: Permission denied\n' % target)
        with open(target, 'rb') as f:
            self.assertEqual(f.read(), b'keep me')
        # A file anyone may write, on a file system mounted read-only: the
        # system's reason, through the library and the command. The file
        # system is mounted in a mount namespace of the test's own.
        namespace = ['unshare', '-m' if os.geteuid() == 0 else '-rm']
        with open(os.devnull, 'w') as null:
            can_mount = subprocess.call(namespace + ['true'], stderr=null) == 0
        if not can_mount:
            self.skipTest('no mount namespace can be made here (unshare -m)')
        mount = self.path('read-only')
        os.mkdir(mount)
        target = os.path.join(mount, 'out.png')
        setup = ('mount -t tmpfs tmpfs "$1" && echo old >"$1/out.png" && chmod 666 "$1/out.png" && '
                 'mount -o remount,ro "$1" && shift && exec "$@"')
        code = ('import sys, dds2png\nfrom dds2png.command import main\n'
                'try:\n    dds2png.convert(sys.argv[1], sys.argv[2])\n'
                'except dds2png.ConversionError as e:\n    sys.stdout.write("%d %s\\n" % (e.errno, e))\n'
                'sys.exit(main(sys.argv[1:]))')
        process = subprocess.Popen(namespace + ['sh', '-c', setup, 'sh', mount, sys.executable, '-c', code,
                                                self.source, target], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out, err = process.communicate()
        self.assertEqual((process.returncode, out.decode(), err.decode()),
                         (2, '%d %s: Read-only file system\n' % (errno.EROFS, target),
                          'dds2png: %s: Read-only file system\n' % target))

    def run_as_nobody(self, *args):
        """Runs the tool's main() in a child process that has become nobody."""
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:
            status = 3
            try:
                os.close(read_end)
                os.dup2(write_end, 2)
                # Codecs import on first use, from an interpreter nobody may not read (pyenv's under /root).
                u''.encode('ascii').decode('ascii')
                os.setuid(65534)
                status = main(list(args))
            finally:
                sys.stderr.flush()
                os._exit(status)
        os.close(write_end)
        with os.fdopen(read_end, 'rb') as f:
            err = f.read().decode('utf-8', 'replace')
        return os.waitpid(pid, 0)[1] >> 8, err

    def test_standard_output(self):
        status, err, out = self.run_tool(self.source, '-')
        self.assertEqual((status, err), (0, ''))
        self.write('stdout.png', out)
        self.assertEqual(read_png(self.path('stdout.png')), self.expected)
        # A reader that stops early ends the command quietly, as it ends cat.
        noise = self.write('noise.dds', dds(512, 512, os.urandom(512 * 512 // 2)))  # far more than a pipe holds
        for args in ([noise, '-'], ['--info'] + [noise] * 5000):
            process = subprocess.Popen(TOOL + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            process.stdout.read(10)
            process.stdout.close()
            err = process.stderr.read()
            process.stderr.close()
            self.assertEqual((process.wait(), err), (128 + signal.SIGPIPE, b''), args[0])
        # A terminal gets no PNG, but one line saying why.
        terminal, screen = pty.openpty()
        process = subprocess.Popen(TOOL + [self.source, '-'], stdout=screen, stderr=subprocess.PIPE)
        os.close(screen)
        err = process.communicate()[1].decode()
        self.assertEqual((process.returncode, err), (2, 'dds2png: -: standard output is a terminal: not writing an '
                                                        'image there (redirect it, or name a file)\n'))
        self.assertEqual(select.select([terminal], [], [], 0)[0], [terminal])  # readable: ended, with nothing
        self.assertRaises(OSError, os.read, terminal, 1)
        os.close(terminal)
        # A non-blocking standard output that fills up is waited on until it takes the whole PNG.
        self.assertEqual(self.run_tool(noise, self.path('noise.png'))[:2], (0, ''))
        read_end, write_end = os.pipe()
        fcntl.fcntl(write_end, fcntl.F_SETFL, fcntl.fcntl(write_end, fcntl.F_GETFL) | os.O_NONBLOCK)
        process = subprocess.Popen(TOOL + [noise, '-'], stdout=write_end, stderr=subprocess.PIPE)
        os.close(write_end)
        time.sleep(0.5)  # long enough for the pipe to fill
        with os.fdopen(read_end, 'rb') as received:
            out = received.read()
        self.assertEqual((process.wait(), process.stderr.read()), (0, b''))
        process.stderr.close()
        with open(self.path('noise.png'), 'rb') as f:
            self.assertEqual(out, f.read())

    def test_targets_named_for_another_image_type_are_refused(self):
        for name in ('out.jpg', 'OUT.JPEG', 'out.tga', 'out.bmp', 'out.gif', 'out.tif', 'out.tiff', 'out.webp',
                     'out.hdr'):
            self.check_refused(self.path(name), 'names a ')
            self.assertFalse(os.path.exists(self.path(name)))
            self.assertRaises(dds2png.ConversionError, dds2png.convert, self.source, self.path(name))
        status, err, _ = self.run_tool(self.source, self.path('out.jpg'))
        self.assertEqual(err, 'dds2png: %s: names a JPEG image; dds2png writes OpenEXR and PNG only (name it .exr or .png)\n'
                         % self.path('out.jpg'))
        # Names of no image type, and any case of .png, are written as PNG.
        for name in ('out.PNG', 'out', 'out.data'):
            self.assertEqual(self.run_tool(self.source, self.path(name))[:2], (0, ''))
            self.assertEqual(read_png(self.path(name)), self.expected)

    def test_a_folder_the_user_may_not_write_is_named(self):
        # The file is writable, its folder is not: the PNG is made there first.
        folder = self.path('locked')
        os.mkdir(folder)
        target = os.path.join(folder, 'out.png')
        with open(target, 'wb') as f:
            f.write(b'keep me')
        os.chmod(target, 0o666)
        os.chmod(folder, 0o555)
        expected = ('dds2png: %s: cannot make a file in its folder %s: Permission denied (the PNG is written '
                    'there, then renamed over the file)\n' % (target, folder))
        try:
            if os.geteuid() != 0:
                status, err, _ = self.run_tool(self.source, target)
            else:
                os.chmod(self.dir, 0o755)
                os.chmod(self.source, 0o644)
                status, err = self.run_as_nobody(self.source, target)
        finally:
            os.chmod(folder, 0o755)
        self.assertEqual((status, err), (2, expected))
        with open(target, 'rb') as f:
            self.assertEqual(f.read(), b'keep me')

    def test_existing_file_keeps_its_permissions(self):
        target = self.write('out.png', b'old')
        os.chmod(target, 0o640)
        self.assertEqual(self.run_tool(self.source, target)[:2], (0, ''))
        self.assertEqual(stat.S_IMODE(os.stat(target).st_mode), 0o640)
        self.assertEqual(read_png(target), self.expected)

    def test_symbolic_links_are_written_through(self):
        target = self.write('target.png', b'old')
        os.symlink(target, self.path('link.png'))
        self.assertEqual(self.run_tool(self.source, self.path('link.png'))[:2], (0, ''))
        self.assertTrue(os.path.islink(self.path('link.png')))
        self.assertEqual(read_png(target), self.expected)

    def test_a_fifo_is_written_in_place(self):
        fifo = self.path('fifo')
        os.mkfifo(fifo)
        received = []

        def read():
            with open(fifo, 'rb') as f:
                received.append(f.read())
        reader = threading.Thread(target=read)
        reader.start()
        status, err, _ = self.run_tool(self.source, fifo)
        reader.join()
        self.assertEqual((status, err), (0, ''))
        self.assertTrue(stat.S_ISFIFO(os.stat(fifo).st_mode))
        self.assertEqual(read_png(self.write('received.png', received[0])), self.expected)


class Batch(ToolTest):
    def test_every_good_file_converts_and_bad_ones_are_counted(self):
        sources = [self.write('a.dds', dds(4, 4, solid(COLOURS[0], 4, 4))),
                   self.write('b.DDS', b'not a texture'),
                   self.write('c', dds(4, 4, solid(COLOURS[1], 4, 4)))]
        os.mkdir(self.path('out'))
        status, err, _ = self.run_tool('-o', self.path('out'), *sources)
        self.assertEqual(status, 1)
        self.assertEqual(err.splitlines(), ['dds2png: %s: not a DDS file' % sources[1],
                                            'dds2png: 2 converted, 1 failed'])
        self.assertEqual(sorted(os.listdir(self.path('out'))), ['a.png', 'c.png'])
        self.assertEqual(read_png(self.path('out/c.png')), image(4, [(COLOURS[1], 4)]))
        # A missing DIR is made, with its parents, as for any output folder.
        status, err, _ = self.run_tool('-o', self.path('new/pngs'), sources[0])
        self.assertEqual((status, err), (0, 'dds2png: 1 converted, 0 failed\n'))
        self.assertEqual(os.listdir(self.path('new/pngs')), ['a.png'])

    def test_a_tree_with_one_name_in_two_folders_is_mirrored(self):
        tree = self.path('tree')
        for folder in ('', 'sub', 'sub/deeper', 'empty'):
            os.makedirs(os.path.join(tree, folder)) if folder else os.mkdir(tree)
        for n, name in enumerate(['x.dds', 'sub/x.DDS', 'sub/deeper/y.Dds']):
            with open(os.path.join(tree, name), 'wb') as f:
                f.write(dds(4, 4, solid(COLOURS[n], 4, 4)))
        for name in ('notes.txt', 'sub/x.png', 'sub/x.dds.bak'):  # passed over: no .dds name
            with open(os.path.join(tree, name), 'wb') as f:
                f.write(b'other')
        bad = os.path.join(tree, 'sub', 'bad.dds')
        with open(bad, 'wb') as f:
            f.write(b'not a texture')
        status, err, _ = self.run_tool('-o', self.path('out'), tree)
        self.assertEqual((status, err.splitlines()), (1, ['dds2png: %s: not a DDS file' % bad,
                                                          'dds2png: 3 converted, 1 failed']))
        found = sorted(os.path.relpath(os.path.join(top, name), self.path('out'))
                       for top, _, names in os.walk(self.path('out')) for name in names)
        self.assertEqual(found, ['sub/deeper/y.png', 'sub/x.png', 'x.png'])
        self.assertEqual(read_png(self.path('out/sub/x.png')), image(4, [(COLOURS[1], 4)]))
        self.assertEqual(read_png(self.path('out/sub/deeper/y.png')), image(4, [(COLOURS[2], 4)]))
        # Without -o, each PNG beside its input; a folder as OUTPUT is -o.
        os.remove(bad)
        self.assertEqual(self.run_tool(tree)[:2], (0, 'dds2png: 3 converted, 0 failed\n'))
        self.assertEqual(read_png(os.path.join(tree, 'sub', 'deeper', 'y.png')), image(4, [(COLOURS[2], 4)]))
        self.assertEqual(self.run_tool(tree, self.path('pngs') + '/')[:2], (0, 'dds2png: 3 converted, 0 failed\n'))
        self.assertEqual(read_png(self.path('pngs/sub/x.png')), image(4, [(COLOURS[1], 4)]))
        # A folder that cannot be listed is reported and counted; the rest converts.
        if os.geteuid() != 0:
            os.chmod(os.path.join(tree, 'empty'), 0)
            try:
                status, err, _ = self.run_tool('-o', self.path('again'), tree)
            finally:
                os.chmod(os.path.join(tree, 'empty'), 0o755)
            self.assertEqual((status, err.splitlines()), (1, ['dds2png: %s: Permission denied'
                                                              % os.path.join(tree, 'empty'),
                                                              'dds2png: 3 converted, 1 failed']))

    def test_defaults_beside_the_input_or_in_a_folder(self):
        source = self.write('x.dds', dds(4, 4, solid(COLOURS[4], 4, 4)))
        self.assertEqual(self.run_tool(source)[:2], (0, ''))
        self.assertEqual(read_png(self.path('x.png')), image(4, [(COLOURS[4], 4)]))
        os.mkdir(self.path('existing'))
        self.assertEqual(self.run_tool(source, self.path('existing'))[:2], (0, ''))
        self.assertEqual(self.run_tool(source, self.path('made/here') + '/')[:2], (0, ''))
        self.assertEqual(os.listdir(self.path('existing')), ['x.png'])
        self.assertEqual(read_png(self.path('made/here/x.png')), image(4, [(COLOURS[4], 4)]))
        # IN OUT keeps its meaning, whatever OUT is named.
        self.assertEqual(self.run_tool(source, self.path('y'))[:2], (0, ''))
        self.assertEqual(read_png(self.path('y')), image(4, [(COLOURS[4], 4)]))
        # Standard input has no name to make one from; an unknown option is named as such.
        self.assertEqual(self.run_tool('-')[0], 2)
        status, err, _ = self.run_tool('-V')
        self.assertEqual((status, err.splitlines()[-1]), (2, 'dds2png: error: unrecognized arguments: -V'))

    def test_usage_errors(self):
        source = self.write('a.dds', dds(4, 4, solid(COLOURS[0], 4, 4)))
        os.mkdir(self.path('other'))
        twin = os.path.join(self.path('other'), 'a.dds')
        shutil.copy(source, twin)
        # A batch refused before anything is written makes no folder either.
        for args in (['-o', source, source], ['-o', self.dir, source, twin], ['-o', self.dir, '-'],
                     ['-o', self.path('new/pngs'), source, twin], ['-o', self.path('new/pngs'), '-']):
            status, err, _ = self.run_tool(*args)
            self.assertEqual(status, 2, args)
            self.assertEqual(sorted(os.listdir(self.dir)), ['a.dds', 'other'])
        # A file where DIR should be, or in its path.
        for folder in (source, source + '/', source + '/pngs'):
            self.assertEqual(self.run_tool('-o', folder, twin)[:2], (2, 'dds2png: %s: Not a directory\n' % folder))


    def test_a_worker_that_cannot_start_waits_for_another_or_fails_its_file(self):
        # The system out of processes (or descriptors): a job waits for a
        # running worker to end, and fails with the system's reason when
        # none runs; nothing is left open.
        from dds2png import batch
        sources = [self.write(name + '.dds', dds(4, 4, solid(COLOURS[0], 4, 4))) for name in 'abcd']
        jobs = [(source, source[:-3] + 'png', 0, None, 6, 1, False, 'design', False) for source in sources]
        forks, fork = [], os.fork

        def failing_fork():
            forks.append(len(forks) + 1)
            if forks[-1] in (2, 4, 5):  # b while a runs, c while b runs, c again with none running
                raise OSError(errno.EAGAIN, os.strerror(errno.EAGAIN))
            return fork()

        open_before = len(os.listdir('/proc/self/fd'))
        os.fork = failing_fork
        try:
            results = list(batch.run_jobs(jobs, 2))
        finally:
            os.fork = fork
        self.assertEqual(results, [None, None, '%s: no worker could be started to convert it (%s)'
                                   % (sources[2], os.strerror(errno.EAGAIN)), None])
        self.assertEqual(sorted(os.listdir(self.dir)), ['a.dds', 'a.png', 'b.dds', 'b.png', 'c.dds', 'd.dds', 'd.png'])
        self.assertEqual(len(os.listdir('/proc/self/fd')), open_before)


def new_session():
    """In a child about to run the tool: a process group of its own, taking
    the stop signals though the tests may run where they are ignored (nohup)."""
    os.setsid()
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, signal.SIG_DFL)


def lying_header(array_size):
    """A DX10 header and nothing else: a 32768 x 32768 cube array of array_size elements."""
    return dds(32768, 32768, b'', dx10=(71, 3, 0x4, array_size))


# How long a batch may take before a test takes it for hung (under emulation, too).
WORKER_WATCHDOG_SECONDS = 300


class HostileInput(ToolTest):
    """Inputs that lie, change or vanish while they convert, batches that name
    an input as an output, closed streams and interrupts: each ends in one
    line naming the path at fault, the right status, no file left behind and
    every input as it was."""

    def setUp(self):
        ToolTest.setUp(self)
        self.out = self.path('out')
        os.mkdir(self.out)
        self.good = [self.write('g%d.dds' % i, dds(8, 4, solid(COLOURS[i], 8, 4))) for i in range(3)]

    def tearDown(self):
        for folder in (self.dir, self.out):
            self.assertEqual([name for name in os.listdir(folder) if name.endswith('.tmp')], [])
        for i, path in enumerate(self.good):
            with open(path, 'rb') as f:
                self.assertEqual(f.read(), dds(8, 4, solid(COLOURS[i], 8, 4)))
        ToolTest.tearDown(self)

    def check_good_outputs(self):
        for i in range(len(self.good)):
            self.assertEqual(read_png(os.path.join(self.out, 'g%d.png' % i)), image(8, [(COLOURS[i], 4)]))

    def run_through(self, kind, blob, *args):
        """Runs the tool with `blob` behind /dev/stdin or a FIFO; the input's name replaces STREAM in args."""
        if kind == 'pipe':
            name, extra = '/dev/stdin', {'stdin': subprocess.PIPE}
        else:
            name, extra = self.path('fifo'), {}
            os.mkfifo(name)
            feeder = threading.Thread(target=self.feed_fifo, args=(name, blob))
            feeder.start()
        args = [name if a == 'STREAM' else a for a in args]
        process = subprocess.Popen(TOOL + args, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, **extra)
        err = process.communicate(blob if kind == 'pipe' else None)[1].decode('utf-8', 'replace')
        if kind == 'fifo':
            feeder.join()
            os.remove(name)
        self.assertNotIn('Traceback', err)
        return process.returncode, err, name

    @staticmethod
    def feed_fifo(name, blob):
        with open(name, 'wb') as f:
            try:
                f.write(blob)
            except EnvironmentError:
                pass  # the tool stopped reading: what it says is checked

    def test_lying_sizes_give_one_message_for_files_and_streams(self):
        for blob, expected in [(lying_header(0xFFFFFFFF), 'too tall for a PNG'),
                               (lying_header(100), 'truncated surface data: 0 bytes of 322122547200')]:
            as_file = self.write('lie.dds', blob)
            status, err, _ = self.run_tool(as_file, self.path('lie.png'))
            self.assertEqual((status, err), (2, 'dds2png: %s: %s' % (as_file, err.split(': ', 2)[2])))
            self.assertIn(expected, err)
            for kind in ('pipe', 'fifo'):
                status, stream_err, name = self.run_through(kind, blob, 'STREAM', self.path('lie.png'))
                self.assertEqual((status, stream_err), (2, err.replace(as_file, name)))
                status, stream_err, name = self.run_through(kind, blob, '-o', self.out, *(['STREAM'] + self.good))
                self.assertEqual((status, stream_err.splitlines()),
                                 (1, [err.replace(as_file, name).rstrip(), 'dds2png: 3 converted, 1 failed']))
                self.check_good_outputs()
            self.assertFalse(os.path.exists(self.path('lie.png')))

    def start_stopped_on_first_output(self, args, folder):
        """Starts the tool in a process group of its own on a large file and stops
        the group once a temporary output appears in `folder`; returns the process."""
        process = subprocess.Popen(TOOL + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   preexec_fn=new_session)
        deadline = time.time() + 60
        while not [name for name in os.listdir(folder) if name.endswith('.tmp')]:
            self.assertTrue(time.time() < deadline and process.poll() is None, 'no temporary output appeared')
            time.sleep(0.001)
        os.killpg(process.pid, signal.SIGSTOP)
        return process

    def large_input(self, name):
        """A file that takes the tool about a second: noise compresses slowly."""
        return self.write(name, dds(4096, 4096, os.urandom(4096 * 4096 // 2)))

    def test_a_greedy_file_object_is_refused_before_any_pixel(self):
        # read(n) giving more than n bytes: kept, every later byte would shift.
        blob = dds(8, 4, solid(COLOURS[0], 8, 4) + solid(COLOURS[1], 8, 4) * 4)

        class Greedy(io.RawIOBase):
            def __init__(self, data):
                self.data = io.BytesIO(data)

            def read(self, size=-1):
                return self.data.read(size + 8 if size > 0 else size)
        for call in (lambda: dds2png.read(Greedy(blob)), lambda: dds2png.convert(Greedy(blob), io.BytesIO())):
            with self.assertRaises(dds2png.ConversionError) as raised:
                call()
            self.assertEqual(raised.exception.reason, 'read(128) gave 136 bytes')

    def test_a_non_blocking_standard_input_is_waited_for(self):
        # A parent left O_NONBLOCK on the pipe: the tool waits for the bytes
        # to come, as it waits on a full standard output.
        blob = dds(8, 4, solid(COLOURS[2], 8, 4))
        read_end, write_end = os.pipe()
        flags = fcntl.fcntl(read_end, fcntl.F_GETFL)
        fcntl.fcntl(read_end, fcntl.F_SETFL, flags | os.O_NONBLOCK)
        try:
            process = subprocess.Popen(TOOL + ['-', self.path('out.png')], stdin=read_end,
                                       stderr=subprocess.PIPE)
        finally:
            os.close(read_end)
        time.sleep(0.5)  # the tool finds the pipe empty first
        os.write(write_end, blob[:100])
        time.sleep(0.2)
        os.write(write_end, blob[100:])
        os.close(write_end)
        err = process.communicate()[1]
        self.assertEqual((process.returncode, err), (0, b''))
        self.assertEqual(read_png(self.path('out.png')), image(8, [(COLOURS[2], 4)]))

    def test_a_stream_holds_a_bounded_size_and_info_counts_one_as_far(self):
        from dds2png import inputs
        blob = dds(8, 8, solid(COLOURS[0], 8, 8) * 4, dx10=(71, 3, 0, 4))  # 128 bytes of surface data
        limit = inputs.STREAM_LIMIT
        inputs.STREAM_LIMIT = 64
        try:
            with self.assertRaises(dds2png.ConversionError) as raised:
                dds2png.read(io.BytesIO(blob))
            self.assertEqual(raised.exception.reason, 'a stream is held in memory, at most 64 bytes of its surface '
                                                      'data; this needs 128 (convert it from a file)')
            self.assertEqual(dds2png.read(io.BytesIO(blob), layer=1), dds2png.read(self.write('in.dds', blob),
                                                                                   layer=1))
            facts = dds2png.info(io.BytesIO(blob))
            self.assertEqual((facts.data_bytes, facts.expected_bytes, facts.data_bytes_at_least, facts.truncated),
                             (64, 128, True, False))
            facts = dds2png.info(io.BytesIO(blob[:-100]))  # shorter than the bound: counted in full
            self.assertEqual((facts.data_bytes, facts.data_bytes_at_least, facts.truncated), (28, False, True))
        finally:
            inputs.STREAM_LIMIT = limit
        # An endless stream: --info ends, at the bound.
        lie = dds(32768, 32768, b'', dx10=(71, 3, 0x4, 2))
        read_end, write_end = os.pipe()
        try:
            process = subprocess.Popen(TOOL + ['--info', '-'], stdin=read_end, stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE)
        finally:
            os.close(read_end)
        feeder = threading.Thread(target=self.feed_endlessly, args=(write_end, lie))
        feeder.start()
        out, err = process.communicate()
        feeder.join()
        self.assertEqual((process.returncode, err), (0, b''))
        self.assertEqual(out.decode(), '-: cube map 32768x32768, 12 faces, 1 mip level, BC1_UNORM, surface data: at '
                                       'least %d bytes of %d (a stream is counted no further)\n'
                         % (inputs.STREAM_LIMIT, 12 * sum((32768 >> n) ** 2 // 2 for n in range(1))))

    @staticmethod
    def feed_endlessly(fd, header):
        """Writes the header, then zeros until nothing reads them; closes the descriptor."""
        try:
            os.write(fd, header)
            zeros = b'\0' * (1 << 20)
            while True:
                os.write(fd, zeros)
        except EnvironmentError:
            pass  # the tool stopped reading
        finally:
            os.close(fd)

    def test_an_input_truncated_while_it_converts(self):
        for batch in (False, True):
            source = self.large_input('large.dds')
            if batch:
                args = ['-o', self.out, source] + self.good
            else:
                args = [source, self.path('large.png')]
            process = self.start_stopped_on_first_output(args, self.out if batch else self.dir)
            with open(source, 'r+b') as f:
                f.truncate(128 + 8 * 1024 * 10)  # ten block rows of 1024
            os.killpg(process.pid, signal.SIGCONT)
            err = process.communicate()[1].decode('utf-8', 'replace')
            line = 'dds2png: %s: truncated surface data: 81920 bytes of 8388608' % source
            if batch:
                self.assertEqual((process.returncode, err.splitlines()),
                                 (1, [line, 'dds2png: 3 converted, 1 failed']))
                self.check_good_outputs()
            else:
                self.assertEqual((process.returncode, err), (2, line + '\n'))
            self.assertFalse(os.path.exists(self.path('large.png')) or os.path.exists(self.path('out/large.png')))

    def test_an_input_rewritten_while_it_converts(self):
        # Rows read before the rewrite are of the old content, those after of the new.
        source = self.large_input('large.dds')
        process = self.start_stopped_on_first_output([source, self.path('large.png')], self.dir)
        with open(source, 'r+b') as f:
            f.seek(128)
            f.write(os.urandom(4096 * 4096 // 2))
        os.killpg(process.pid, signal.SIGCONT)
        err = process.communicate()[1].decode('utf-8', 'replace')
        self.assertEqual((process.returncode, err), (2, 'dds2png: %s: changed while it was read\n' % source))
        self.assertFalse(os.path.exists(self.path('large.png')))

    def test_a_worker_killed_by_a_signal_is_that_files_failure(self):
        source = self.large_input('large.dds')
        process = self.start_stopped_on_first_output(['-o', self.out, source] + self.good, self.out)
        for name in os.listdir('/proc'):
            try:
                with open('/proc/%s/stat' % name) as f:
                    group = int(f.read().rsplit(')', 1)[1].split()[2])  # the fields after the command's name
            except (ValueError, IndexError, EnvironmentError):
                continue  # not a process, or one that has ended
            if group == process.pid and int(name) != process.pid:
                os.kill(int(name), signal.SIGKILL)  # each worker of the batch
        os.killpg(process.pid, signal.SIGCONT)
        err = process.communicate()[1].decode('utf-8', 'replace').splitlines()
        self.assertEqual(process.returncode, 1)
        self.assertIn('dds2png: %s: the worker converting it was killed by signal 9 (SIGKILL)' % source, err)
        self.assertEqual(err[-1], 'dds2png: %d converted, %d failed' % (4 - (len(err) - 1), len(err) - 1))
        self.assertFalse(os.path.exists(self.path('out/large.png')))

    def test_workers_left_stopped_are_continued(self):
        source = self.large_input('large.dds')
        process = self.start_stopped_on_first_output(['-o', self.out, source] + self.good, self.out)
        os.kill(process.pid, signal.SIGCONT)  # the command alone: its workers stay stopped
        watchdog = threading.Timer(WORKER_WATCHDOG_SECONDS, os.killpg, (process.pid, signal.SIGKILL))
        watchdog.start()
        try:
            err = process.communicate()[1]
        finally:
            watchdog.cancel()
            watchdog.join()
        self.assertEqual((process.returncode, err), (0, b'dds2png: 4 converted, 0 failed\n'))
        self.check_good_outputs()

    def test_interrupt(self):
        # Ctrl-C and a closed terminal signal the whole group; kill signals the command alone.
        for number, send in [(signal.SIGINT, os.killpg), (signal.SIGHUP, os.killpg), (signal.SIGTERM, os.kill)]:
            for batch in (False, True):
                source = self.large_input('large.dds')
                args = ['-o', self.out, source] + self.good if batch else [source, self.path('large.png')]
                process = self.start_stopped_on_first_output(args, self.out if batch else self.dir)
                send(process.pid, number)
                os.killpg(process.pid, signal.SIGCONT)
                self.assertEqual((process.wait(), process.stderr.read()), (128 + number, b'dds2png: interrupted\n'))
                process.stdout.close()
                process.stderr.close()
                # No temporary file; an output only if the conversion had
                # ended when the signal was taken (a starved test can stop
                # the group that late), and then a whole one.
                for folder in (self.dir, self.out):
                    self.assertEqual([name for name in os.listdir(folder) if name.endswith('.tmp')], [])
                for output in (self.path('large.png'), self.path('out/large.png')):
                    if os.path.exists(output):
                        self.assertEqual(read_png(output)[:2], (4096, 4096))
                        os.remove(output)

    def test_an_error_reading_or_writing_mid_image_leaves_no_thread_running(self):
        # Rows that fail after two strips (an unreadable file, Ctrl-C), or an
        # output that fails, while the threads are compressing: the writer
        # raises what came, with every one of its threads ended.
        per_strip = png.STRIP_SIZE // (1 + 3 * WRITER_WIDTH)
        height = 4 * per_strip
        rows = writer_rows(per_strip)
        before = process_threads()
        during = []

        def failing_rows(error):
            for y in range(2 * per_strip + 1):
                yield rows[y % per_strip]
            during.append(len(process_threads() - before))
            raise error

        class FailingOutput(object):
            def __init__(self):
                self.written = 0

            def write(self, data):
                self.written += len(data)
                if self.written > png.IDAT_SIZE:
                    during.append(len(process_threads() - before))
                    raise IOError(28, 'No space left on device')
        truncated = dds2png.TruncatedError('in.dds', 'truncated surface data')
        for error, rows_given, out in [(truncated, failing_rows, io.BytesIO()),
                                       (KeyboardInterrupt(), failing_rows, io.BytesIO()),
                                       (IOError, lambda error: (rows[y % per_strip] for y in range(height)),
                                        FailingOutput())]:
            del during[:]
            raised = error if isinstance(error, type) else type(error)
            with self.assertRaises(raised):
                png.write_png(out, WRITER_WIDTH, height, rows_given(error), 0, 3)
            self.assertEqual(during, [3 if compressing.IN_PARALLEL else 0], error)  # they were running
            self.assertEqual(threads_after_ending(before), before, error)
        # Ctrl-C as the threads start: it comes once they have, and ends them
        # (a thread left starting crashed the interpreter's exit). Threads
        # the system will not make, or makes but that never run (no memory
        # for the interpreter in them), mean fewer threads and the same PNG.
        if compressing.IN_PARALLEL:
            start_new_thread = compressing.low_level_threads.start_new_thread

            def interrupted_as_made(function, args):
                made = start_new_thread(function, args)
                os.kill(os.getpid(), signal.SIGINT)
                return made

            def refused_after(count):
                made = []

                def start(function, args):
                    if len(made) == count:
                        raise compressing.low_level_threads.error("can't start new thread")
                    made.append(start_new_thread(function, args))
                    return made[-1]
                return start

            def never_run(function, args):
                return start_new_thread(lambda: None, ())

            def out_of_memory_at_work(function, args):
                def fail():
                    raise MemoryError
                function.__self__.work = fail
                return start_new_thread(function, args)
            single = io.BytesIO()
            png.write_png(single, WRITER_WIDTH, height, iter(rows * 4), 0, 1)
            saved = compressing.BIRTH_SECONDS
            # Threads that run out of memory as they begin: the strips are
            # compressed without them, or fail with MemoryError; never a hang.
            for start in (interrupted_as_made, refused_after(1), refused_after(0), never_run, out_of_memory_at_work):
                compressing.low_level_threads.start_new_thread, compressing.BIRTH_SECONDS = start, 0.1
                out = io.BytesIO()
                try:
                    png.write_png(out, WRITER_WIDTH, height, iter(rows * 4), 0, 3)
                    self.assertEqual(out.getvalue(), single.getvalue(), start)
                except KeyboardInterrupt:
                    self.assertIs(start, interrupted_as_made)
                except MemoryError:
                    self.assertIs(start, out_of_memory_at_work)
                else:
                    self.assertIsNot(start, interrupted_as_made)
                finally:
                    compressing.low_level_threads.start_new_thread, compressing.BIRTH_SECONDS = start_new_thread, saved
                self.assertEqual(threads_after_ending(before), before, start)

    def test_an_interrupt_at_any_step_of_ending_the_threads(self):
        # Ctrl-C at each step (bytecode, else line) of ending the compressing
        # threads: a step that left a lock held hung Python 2 for good. Run in a process
        # of its own, so that a hang fails the test. (At the step that enters
        # the ending, nothing can catch it: the threads are then left waiting,
        # idle, and do not hold up the exit.)
        script = r"""
import io, os, sys
sys.path.insert(0, TESTS)
from dds2png import png
from test_dds2png import interrupt_at_every_step
png.STRIP_SIZE = 1 << 16
rows = [bytes(bytearray([y % 251]) * 3072) for y in range(80)]
before = set(os.listdir('/proc/self/task'))
steps = interrupt_at_every_step(lambda: png.write_png(io.BytesIO(), 1024, len(rows), iter(rows), 1, 2),
                                lambda code: code.co_name in ('__exit__', 'join'))
assert steps > 5, steps
sys.stdout.write('ended after %d steps\n' % steps)
"""
        script = script.replace('TESTS', repr(os.path.dirname(os.path.abspath(__file__))), 1)
        process = subprocess.Popen([sys.executable, '-c', script], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        watchdog = threading.Timer(120, process.kill)
        watchdog.start()
        try:
            output = process.communicate()[0]
        finally:
            watchdog.cancel()
            watchdog.join()
        self.assertEqual(process.returncode, 0, output)
        self.assertTrue(output.startswith(b'ended '), output)

    def test_a_batch_that_names_an_input_as_an_output(self):
        disguised = self.write('out/g0.png', dds(8, 4, solid(COLOURS[0], 8, 4)))
        os.link(self.good[1], self.path('out/linked.png'))
        for sources in ([disguised, self.good[0]], [self.good[1], self.path('linked.dds')]):
            if not os.path.exists(sources[-1]):
                self.write('linked.dds', b'a file whose output is another input')
            status, err, _ = self.run_tool('-o', self.out, *sources)
            target = os.path.join(self.out, os.path.basename(sources[-1])[:-4] + '.png')
            self.assertEqual((status, err.splitlines()),
                             (2, ['dds2png: %s: is the input %s; nothing was converted' % (target, sources[0])]))
            self.assertEqual(sorted(os.listdir(self.out)), ['g0.png', 'linked.png'])
        with open(disguised, 'rb') as f:
            self.assertEqual(f.read(), dds(8, 4, solid(COLOURS[0], 8, 4)))

    def test_closed_standard_streams(self):
        # /dev/stdout, once stdout was closed, reopened the /dev/null in its place and lost the image.
        for args, redirect, expected in [([self.good[0], '-'], '>&-', '-: standard output is closed'),
                                         ([self.good[0], '/dev/stdout'], '>&-',
                                          '/dev/stdout: standard output is closed'),
                                         (['--version'], '>&-', '-: standard output is closed'),
                                         (['--help'], '>&-', '-: standard output is closed'),
                                         (['--version'], '>/dev/full', '-: No space left on device')]:
            command = ['sh', '-c', 'exec "$@" ' + redirect, 'sh'] + TOOL + args
            process = subprocess.Popen(command, stderr=subprocess.PIPE)
            self.assertEqual((process.wait(), process.stderr.read().decode()), (2, 'dds2png: %s\n' % expected))
            process.stderr.close()
        bad = self.write('bad.dds', b'not a texture')
        for args, status in [([bad, self.path('x.png')], 2), (['-o', self.out, bad], 1), ([bad], 2)]:
            closed_stderr = ['sh', '-c', 'exec "$@" 2>&-', 'sh'] + TOOL + args
            self.assertEqual(subprocess.call(closed_stderr), status)

    def test_names_with_control_characters_and_trailing_slashes(self):
        bad = self.write('bad\nname\\.dds', b'not a texture')
        status, err, _ = self.run_tool(bad, self.path('x.png'))
        self.assertEqual((status, err), (2, 'dds2png: %s/bad\\nname\\\\.dds: not a DDS file\n' % self.dir))
        status, err, _ = self.run_tool('-o', self.out, bad, self.good[0])
        self.assertEqual(err.splitlines()[0], 'dds2png: %s/bad\\nname\\\\.dds: not a DDS file' % self.dir)
        # Paths that name no file until their folder exists; once written as the file x.png.
        for name in ('x.png/.', 'missing/../x.png'):
            status, err, _ = self.run_tool(self.good[0], self.path(name))
            self.assertEqual((status, err), (2, 'dds2png: %s/%s: No such file or directory\n' % (self.dir, name)))
        self.assertFalse(os.path.exists(self.path('x.png')))
        # A trailing slash names a folder, whatever the name: the command makes it and writes into it.
        self.assertEqual(self.run_tool(self.good[0], self.path('x.png/'))[:2], (0, ''))
        self.assertEqual(os.listdir(self.path('x.png')), ['g0.png'])


class Library(ToolTest):
    """read() and convert(), which the command is built on, and --version."""

    def test_read_gives_the_pixels_of_a_level_and_a_layer(self):
        faces = b''.join(solid(COLOURS[f], 4, 4) + solid(COLOURS[7 - f], 2, 2) for f in range(6))
        source = self.write('cube.dds', dds(4, 4, faces, levels=2, caps2=CUBE))
        self.assertEqual(dds2png.read(source, level=1, layer=5), (2, 2, bytearray(pixel(COLOURS[2]) * 4)))
        width, height, pixels = dds2png.read(source)
        self.assertEqual((width, height, pixels), (4, 24, bytearray(b''.join(image(4, [(COLOURS[f], 4)
                                                                                        for f in range(6)])[2]))))

    def test_read_checks_a_lying_stream_before_making_its_pixels(self):
        # 65535 layers of 32768 x 32767 pixels: a PNG could hold them, memory could not.
        blob = dds(32768, 32767, b'\0' * 16, dx10=(71, 3, 0, 65535))
        with self.assertRaises(dds2png.ConversionError) as from_file:
            dds2png.read(self.write('lie.dds', blob))
        self.assertIn('truncated surface data: 16 bytes of', from_file.exception.reason)
        read_end, write_end = os.pipe()
        os.write(write_end, blob)
        os.close(write_end)
        try:
            with self.assertRaises(dds2png.ConversionError) as from_pipe:
                dds2png.read('/dev/fd/%d' % read_end)
        finally:
            os.close(read_end)
        self.assertEqual(from_pipe.exception.reason, from_file.exception.reason)

    def test_out_of_memory_is_a_conversion_error(self):
        # Under address-space limits from what the process holds to well past
        # what a conversion needs, in a process of its own: each call gives
        # the PNG or "out of memory" (the library's error, the command's
        # line), never another error or a file left behind. In the caller's
        # thread alone: a thread the interpreter makes without the memory to
        # run it can end the interpreter itself (threads that will not start
        # are tested with the PNG writer).
        source = self.write('in.dds', dds(2048, 768, os.urandom(2048 * 768 // 2)))
        target = self.path('out.png')
        dds2png.convert(source, target, compression=1)
        with open(target, 'rb') as f:
            expected = f.read()
        os.remove(target)
        script = r"""
import os, resource, sys
import dds2png
from dds2png.command import main
source, target, expected = sys.argv[1:]
with open(expected, 'rb') as f:
    expected = f.read()
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
page = os.sysconf('SC_PAGE_SIZE')

def limit(extra):
    with open('/proc/self/statm') as f:
        held = int(f.read().split()[0]) * page
    resource.setrlimit(resource.RLIMIT_AS, (held + extra, hard))
limit(16 << 20)
try:
    bytearray(64 << 20)
    sys.stdout.write('no limit\n')  # an emulator keeps the limit to itself
    sys.exit(0)
except MemoryError:
    pass
finally:
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
outcomes = []
for extra in range(0, 48 << 20, 3 << 20):
    for run in ('library', 'command'):
        limit(extra)
        try:
            if run == 'library':
                dds2png.convert(source, target, compression=1, threads=1)
            elif main(['--compression', '1', '--threads', '1', source, target]) != 0:
                raise dds2png.ConversionError(source, 'out of memory')  # its line is checked by the test
            outcome = 'converted'
        except dds2png.ConversionError as e:
            assert (e.path, e.reason) == (source, 'out of memory'), str(e)
            outcome = 'out of memory'
        finally:
            resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        if outcome == 'converted':
            with open(target, 'rb') as f:
                assert f.read() == expected
            os.remove(target)
        assert os.listdir(os.path.dirname(target)) == [os.path.basename(source)], os.listdir(os.path.dirname(target))
        outcomes.append(outcome)
sys.stdout.write(' '.join(sorted(set(outcomes))) + '\n')
"""
        folder = self.path('alone')
        os.mkdir(folder)
        os.rename(source, os.path.join(folder, 'in.dds'))
        with open(self.path('expected.png'), 'wb') as f:
            f.write(expected)
        process = subprocess.Popen([sys.executable, '-c', script, os.path.join(folder, 'in.dds'),
                                    os.path.join(folder, 'out.png'), self.path('expected.png')],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out, err = process.communicate()
        if out == b'no limit\n':
            self.skipTest('the address-space limit does not reach this interpreter')
        self.assertEqual((process.returncode, out), (0, b'converted out of memory\n'), err)
        line = 'dds2png: %s: out of memory' % os.path.join(folder, 'in.dds')
        self.assertLessEqual(set(err.decode('utf-8').splitlines()), set([line]))

    def test_convert_fails_and_writes_as_the_command_does(self):
        source = self.write('in.dds', dds(8, 4, solid(COLOURS[3], 8, 4)))
        truncated = self.write('short.dds', dds(8, 8, solid(COLOURS[3], 8, 4)))
        dds2png.convert(source, self.path('library.png'))
        self.assertEqual(self.run_tool(source, self.path('command.png'))[:2], (0, ''))
        with open(self.path('library.png'), 'rb') as library, open(self.path('command.png'), 'rb') as command:
            self.assertEqual(library.read(), command.read())
        for args in [(self.path('missing.dds'), self.path('x.png')), (truncated, self.path('x.png')),
                     (source, source), (source, self.path('x.jpg'))]:
            with self.assertRaises(dds2png.ConversionError) as raised:
                dds2png.convert(*args)
            self.assertEqual(self.run_tool(*args)[:2], (2, 'dds2png: %s\n' % raised.exception))
            self.assertTrue(str(raised.exception).startswith(raised.exception.path + ': '))
        self.assertEqual(sorted(os.listdir(self.dir)), ['command.png', 'in.dds', 'library.png', 'short.dds'])

    def test_negative_levels_and_layers_are_refused(self):
        # Counted back from 0, they would decode the header's bytes as pixels.
        source = self.write('cube.dds', dds(4, 4, b''.join(solid(COLOURS[f], 4, 4) for f in range(6)), caps2=CUBE))
        for options, expected in [({'layer': -1}, 'no layer -1: level 0 has layers 0 to 5'),
                                  ({'level': -1}, 'no mip level -1: the file has level 0 only')]:
            for call in (lambda: dds2png.read(source, **options),
                         lambda: dds2png.convert(source, self.path('x.png'), **options)):
                with self.assertRaises(dds2png.ConversionError) as raised:
                    call()
                self.assertEqual(str(raised.exception), '%s: %s' % (source, expected))
        self.assertFalse(os.path.exists(self.path('x.png')))

    def test_compression_and_threads_are_checked(self):
        source = self.write('in.dds', dds(8, 4, solid(COLOURS[3], 8, 4)))
        target = self.path('x.png')

        class Index(object):  # an integer as numpy's are, through __index__
            def __index__(self):
                return 9
        for options, error, expected in [
                ({'compression': 10}, ValueError, 'compression must be a zlib level from 0 to 9, not 10'),
                ({'compression': -1}, ValueError, 'compression must be a zlib level from 0 to 9, not -1'),
                ({'compression': 6.0}, TypeError, 'compression must be an integer, not float'),
                ({'compression': '6'}, TypeError, 'compression must be an integer, not str'),
                ({'threads': 0}, ValueError,
                 'threads must be at least 1 (or None for the cores the process may use), not 0'),
                ({'threads': 2.5}, TypeError, 'threads must be an integer, not float')]:
            with self.assertRaises(error) as raised:
                dds2png.convert(source, target, **options)
            self.assertEqual(str(raised.exception), expected)
            self.assertFalse(os.path.exists(target))
        dds2png.convert(source, target, compression=Index(), threads=Index())
        with open(target, 'rb') as f:
            self.assertEqual(idat_stream(f.read())[:2], zlib.compress(b'', 9)[:2])
        # The command refuses the same as usage errors, before reading anything.
        for args, expected in [(['--compression', '10'], '--compression is a zlib level, from 0 to 9'),
                               (['--compression', '-1'], '--compression is a zlib level, from 0 to 9'),
                               (['--threads', '0'], '--threads is at least 1')]:
            for paths in ([source, self.path('y.png')], ['-o', self.dir, source]):
                status, err, _ = self.run_tool(*(args + paths))
                self.assertEqual(status, 2)
                self.assertEqual(err.splitlines()[-1], 'dds2png: error: ' + expected)
        self.assertEqual(sorted(os.listdir(self.dir)), ['in.dds', 'x.png'])

    def test_dtype_depth_and_format_are_checked(self):
        source = self.write('in.dds', dds(4, 4, solid(COLOURS[3], 4, 4)))
        for call, options, error, expected in [
                (dds2png.read, {'dtype': 'int8'}, ValueError,
                 "dtype must be 'float16' or 'float32' or 'uint16' or 'uint8', not 'int8'"),
                (dds2png.read, {'dtype': 16}, TypeError, 'dtype must be a string, not int'),
                (dds2png.convert, {'depth': 12}, ValueError, 'depth must be 8 or 16, not 12'),
                (dds2png.convert, {'depth': '16'}, TypeError, 'depth must be an integer, not str'),
                (dds2png.convert, {'depth': 16, 'format': 'exr'}, ValueError,
                 'depth is for PNG files; an OpenEXR file holds floats'),
                (dds2png.convert, {'format': 'jpg'}, ValueError, "format must be 'exr' or 'png', not 'jpg'")]:
            with self.assertRaises(error) as raised:
                call(source, *([self.path('x.png')] if call is dds2png.convert else []), **options)
            self.assertEqual(str(raised.exception), expected)
        self.assertFalse(os.path.exists(self.path('x.png')))
        for args, expected in [(['--depth', '12', source, self.path('y.png')], 'argument --depth: invalid choice'),
                               (['--depth', '16', source, self.path('y.exr')], '--depth is for PNG files'),
                               (['--format', 'tiff', source, self.path('y.png')], 'argument --format: invalid'),
                               (['--info', '--depth', '16', source], '--info reads headers alone')]:
            status, err, _ = self.run_tool(*args)
            self.assertEqual(status, 2)
            self.assertIn('dds2png: error: ' + expected, err)
        self.assertEqual(sorted(os.listdir(self.dir)), ['in.dds'])

    def test_info_says_hdr_and_signedness(self):
        for blob, facts, line in [
                (dds(4, 4, b'\0' * 16, dx10=(96, 3, 0, 1)), (True, True), 'BC6H_SF16, HDR (more than 8 bits'),
                (dds(4, 4, b'\0' * 16, dx10=(94, 3, 0, 1)), (True, False), 'BC6H_TYPELESS, HDR (more than 8 bits'),
                (dds(4, 4, b'\0' * 8, fourcc=b'BC4S'), (False, True), 'BC4S, signed\n'),
                (dds(4, 4, b'\0' * 16, dx10=(84, 3, 0, 1)), (False, True), 'BC5_SNORM, signed\n'),
                (dds(4, 4, b'\0' * 8), (False, False), 'DXT1\n'),
                (dds(4, 4, b'\0' * 9, fourcc=b'ABCD'), (None, False), "FourCC 'ABCD', not converted")]:
            source = self.write('in.dds', blob)
            found = dds2png.info(source)
            self.assertEqual((found.high_range, found.signed), facts, line)
            status, _, out = self.run_tool('--info', source)
            self.assertIn(line, out.decode('ascii'))

    def test_paths_as_bytes_and_path_objects(self):
        source = self.write('in.dds', dds(8, 4, solid(COLOURS[3], 8, 4)))
        kinds = [lambda path: path.encode(sys.getfilesystemencoding())]
        try:
            import pathlib
            kinds.append(pathlib.Path)
        except ImportError:
            pass  # Python 2
        for kind in kinds:
            self.assertEqual(dds2png.read(kind(source)), (8, 4, bytearray(pixel(COLOURS[3]) * 32)))
            dds2png.convert(kind(source), kind(self.path('out.png')))
            self.assertEqual(read_png(self.path('out.png')), image(8, [(COLOURS[3], 4)]))
            with self.assertRaises(dds2png.ConversionError) as raised:
                dds2png.convert(kind(source), kind(self.path('nodir/out.png')))
            self.assertEqual(str(raised.exception), '%s: No such file or directory' % self.path('nodir/out.png'))
            self.assertEqual((raised.exception.path, raised.exception.errno),
                             (kind(self.path('nodir/out.png')), errno.ENOENT))

    def test_errors_pickle_with_their_kind_and_fields(self):
        # Pools and clusters hand a worker's error to the caller through pickle.
        cases = [(dds2png.NotDDSError, b'not a texture at all'),
                 (dds2png.UnsupportedFormatError, dds(4, 4, b'\0' * 16, fourcc=b'ETC1')),
                 (dds2png.MalformedError, dds(8, 0, b'')),
                 (dds2png.TruncatedError, dds(8, 8, b'\0' * 8)),
                 (dds2png.ConversionError, None)]  # a missing file: the system's error
        for kind, blob in cases:
            source = self.write('bad.dds', blob) if blob is not None else self.path('missing.dds')
            with self.assertRaises(kind) as raised:
                dds2png.read(source)
            error = raised.exception
            self.assertEqual(error.errno, None if blob is not None else errno.ENOENT)
            for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
                copy = pickle.loads(pickle.dumps(error, protocol))
                self.assertEqual((type(copy), str(copy), copy.path, copy.reason, copy.errno),
                                 (kind, str(error), source, error.reason, error.errno))

    def test_error_lines_print_whatever_the_path(self):
        # Undecodable bytes, C1 controls (U+0085 ends a line, U+009B starts a
        # terminal's escape sequence) and non-ASCII text, as bytes and as text.
        if str is bytes:
            names = [b'bad\xff\x1b.dds', b'a\xc2\x9b31m\xc2\x85.dds', u'caf\xe9.dds']
        else:
            names = [b'bad\xff\x1b.dds', 'bad\udcff.dds', 'a\x9b31m\x85\u2028.dds', 'caf\xe9.dds']
        shown = {b'bad\xff\x1b.dds': u'bad\\377\\033.dds', 'bad\udcff.dds' if str is not bytes else 0: u'bad\\377.dds',
                 b'a\xc2\x9b31m\xc2\x85.dds': u'a\\302\\23331m\\302\\205.dds',
                 u'a\x9b31m\x85\u2028.dds': u'a\\302\\23331m\\302\\205\\342\\200\\250.dds', u'caf\xe9.dds': u'caf\xe9.dds'}
        encoding = sys.getfilesystemencoding() or 'ascii'  # ASCII in a bare environment (no locale)
        for name in names:
            source = os.path.join(self.dir.encode() if isinstance(name, bytes) else self.dir, name)
            with self.assertRaises(dds2png.ConversionError) as raised:
                dds2png.read(source)
            line = raised.exception.__unicode__() if str is bytes else str(raised.exception)
            try:
                name if isinstance(name, bytes) else os.fsencode(name) if str is not bytes else name.encode(encoding)
                reason = u'No such file or directory'
            except UnicodeError:
                reason = u"cannot be written in the file system's encoding (%s)" % encoding
            self.assertTrue(line.endswith(shown[name] + u': ' + reason), repr(line))
            self.assertEqual(len(line.splitlines()), 1)
            line.encode('utf-8')  # printable, as text
            self.assertEqual(raised.exception.path, source)
        for bad in [u'a\0b.dds', b'a\0b.dds']:
            self.assertRaises(dds2png.ConversionError, dds2png.read, bad)

    def test_arguments_of_the_wrong_type_are_refused_first(self):
        source = self.write('in.dds', dds(8, 4, solid(COLOURS[3], 8, 4)))
        for call in [lambda: dds2png.read(0), lambda: dds2png.read(None), lambda: dds2png.info(3.5),
                     lambda: dds2png.convert(source, 1), lambda: dds2png.convert(source, io.StringIO()),
                     lambda: dds2png.read(source, level=1.0), lambda: dds2png.read(source, layer=0.5),
                     lambda: dds2png.convert(source, self.path('x.png'), level='0'),
                     lambda: dds2png.read(source, level=True)]:
            self.assertRaises(TypeError, call)
        same = io.BytesIO(dds(8, 4, solid(COLOURS[3], 8, 4)))
        self.assertRaises(dds2png.ConversionError, dds2png.convert, same, same)
        self.assertFalse(os.path.exists(self.path('x.png')))

        class Index(object):  # an integer type of another library, as numpy's are
            def __index__(self):
                return 0
        width, height, _ = dds2png.read(source, level=Index(), layer=Index())
        self.assertEqual((type(width), type(height)), (int, int))

    def test_a_files_bytes_as_its_path_get_a_short_type_error(self):
        blob = dds(8, 4, solid(COLOURS[3], 8, 4))
        for data in (blob, blob[:100], b'x' * 5000):
            for call in (lambda: dds2png.read(data), lambda: dds2png.info(data),
                         lambda: dds2png.convert(data, self.path('x.png')),
                         lambda: dds2png.convert(self.write('in.dds', blob), data)):
                with self.assertRaises(TypeError) as raised:
                    call()
                self.assertIn('io.BytesIO', str(raised.exception))
                self.assertLess(len(str(raised.exception)), 200)
        # A path that is bytes is still one.
        self.assertEqual(dds2png.read(self.write('in.dds', blob).encode())[:2], (8, 4))

    def test_the_data_offset_leads_to_level_zero(self):
        for blob, offset in ((dds(8, 4, solid(COLOURS[3], 8, 4)), 128),
                             (dds(8, 4, solid(COLOURS[3], 8, 4), dx10=(71, 3, 0, 1)), 148)):
            facts = dds2png.info(io.BytesIO(blob))
            self.assertEqual(facts.data_offset, offset)
            self.assertEqual(blob[facts.data_offset:facts.data_offset + 4], struct.pack('<2H', COLOURS[3], 0))
        self.assertEqual(dds2png.info(self.write('c.dds', dds(4, 4, solid(COLOURS[0], 4, 4) * 2,
                                                             caps2=0x200 | 0x800 | 0x8000))).faces, ('-X', '-Z'))

    def test_file_objects_as_source_and_target(self):
        blob = dds(8, 4, solid(COLOURS[3], 8, 4))
        source = self.write('in.dds', blob)
        dds2png.convert(source, self.path('from-path.png'))
        with open(self.path('from-path.png'), 'rb') as f:
            expected_png = f.read()
        self.assertEqual(dds2png.read(io.BytesIO(blob)), dds2png.read(source))
        target = io.BytesIO()
        dds2png.convert(io.BytesIO(blob), target)
        self.assertEqual(target.getvalue(), expected_png)
        with open(source, 'rb') as f, open(self.path('to-file.png'), 'wb') as out:
            dds2png.convert(f, out)
            self.assertFalse(f.closed or out.closed)  # the caller's to close
        self.assertEqual(read_png(self.path('to-file.png')), image(8, [(COLOURS[3], 4)]))
        with self.assertRaises(dds2png.TruncatedError) as unnamed:
            dds2png.read(io.BytesIO(blob[:-8]))
        self.assertEqual((unnamed.exception.path, str(unnamed.exception)),
                         (None, '<file object>: truncated surface data: 8 bytes of 16'))
        with open(self.write('short.dds', blob[:-8]), 'rb') as f:
            with self.assertRaises(dds2png.TruncatedError) as named:
                dds2png.convert(f, io.BytesIO())
        self.assertEqual(named.exception.path, self.path('short.dds'))

    def test_targets_that_take_part_of_a_write_or_have_write_alone(self):
        whole = io.BytesIO()
        dds2png.convert(SAMPLE, whole)

        class Dribble(io.RawIOBase):
            """A raw file that takes at most 1,000 bytes a call, and none
            (None: it would block) on the calls numbered in `full`."""
            def __init__(self, full=(), fd=None):
                io.RawIOBase.__init__(self)
                self.taken, self.calls, self.full, self.fd = bytearray(), 0, full, fd

            def writable(self):
                return True

            def write(self, data):
                self.calls += 1
                if self.calls in self.full:
                    return None
                self.taken += bytearray(data[:1000])
                return min(len(data), 1000)

            def fileno(self):
                if self.fd is None:
                    raise io.UnsupportedOperation('no descriptor')
                return self.fd

        class WriteAlone(object):
            def __init__(self):
                self.taken = bytearray()

            def write(self, data):
                self.taken += bytearray(data)
        null = os.open(os.devnull, os.O_WRONLY)
        try:
            for target in (Dribble(), Dribble(full=(1, 5), fd=null), WriteAlone()):
                dds2png.convert(SAMPLE, target)
                self.assertEqual(bytes(target.taken), whole.getvalue(), type(target).__name__)
        finally:
            os.close(null)
        # Nothing to wait on: the call fails rather than end with part of the PNG.
        with self.assertRaises(dds2png.ConversionError) as raised:
            dds2png.convert(SAMPLE, Dribble(full=(3,)))
        self.assertEqual((raised.exception.errno, str(raised.exception)),
                         (errno.EAGAIN, '<file object>: took no bytes, and has no descriptor to wait on'))

    def test_standard_streams(self):
        source = self.write('in.dds', dds(8, 4, solid(COLOURS[3], 8, 4)))
        # The library writes after what was printed, through sys.stdout.
        code = ('import sys, dds2png; print("text first"); sys.stdout.flush() if 0 else None; '
                'dds2png.convert(sys.argv[1], "-")')
        process = subprocess.Popen([sys.executable, '-c', code, source], stdout=subprocess.PIPE)
        out = process.communicate()[0]
        self.assertEqual(process.returncode, 0)
        self.assertTrue(out.startswith(b'text first\n\x89PNG'), out[:20])
        if str is not bytes:
            import contextlib
            redirected = io.TextIOWrapper(io.BytesIO())
            with contextlib.redirect_stdout(redirected):
                dds2png.convert(source, '-')
            self.assertEqual(redirected.buffer.getvalue()[:4], b'\x89PNG')
        # The command reads standard input for an INPUT of -.
        with open(source, 'rb') as f:
            process = subprocess.Popen(TOOL + ['-', self.path('stdin.png')], stdin=f, stderr=subprocess.PIPE)
            self.assertEqual((process.wait(), process.stderr.read()), (0, b''))
            process.stderr.close()
        self.assertEqual(read_png(self.path('stdin.png')), image(8, [(COLOURS[3], 4)]))

    def test_info_on_every_layout(self):
        faces = b''.join(solid(COLOURS[f], 4, 4) for f in range(6))
        whole = (True, 32, 32)  # decoded, and the 32 bytes of surface data that one 8 x 8 or 4 x 4 x 4 level takes
        layouts = [
            (dds(8, 4, b''.join(solid(COLOURS[n], 8 >> n, max(1, 4 >> n)) for n in range(4)), levels=4),
             (8, 4, 4, (1, 1, 1, 1), '2D', 'DXT1', False, True, 40, 40, False), '2D 8x4, 4 mip levels, DXT1\n'),
            (dds(4, 4, faces, caps2=CUBE), (4, 4, 1, (6,), 'cube', 'DXT1', False, True, 48, 48, False),
             'cube map 4x4, 6 faces, 1 mip level, DXT1\n'),
            (dds(4, 4, faces[:64], dx10=(72, 3, 0, 4)),
             (4, 4, 1, (4,), 'array', 'BC1_UNORM_SRGB', False) + whole + (False,),
             'array of 4 4x4, 1 mip level, BC1_UNORM_SRGB\n'),
            (dds(4, 4, faces + faces[:8], depth=4, levels=3, caps2=VOLUME),
             (4, 4, 3, (4, 2, 1), 'volume', 'DXT1', False, True, 56, 56, False), 'volume 4x4x4, 3 mip levels, DXT1\n'),
            (dds(4, 4, faces * 2, dx10=(71, 3, 4, 2)), (4, 4, 1, (12,), 'cube', 'BC1_UNORM', False, True, 96, 96, False),
             'cube map 4x4, 12 faces, 1 mip level, BC1_UNORM\n'),
            # Every format of the family, and those not decoded described too, and those of known size
            # checked against it.
            (dds(8, 8, b'\0' * 64, fourcc=b'DXT5'), (8, 8, 1, (1,), '2D', 'DXT5', False, True, 64, 64, False),
             '2D 8x8, 1 mip level, DXT5\n'),
            (dds(8, 8, b'\0' * 64, fourcc=b'DXT2'), (8, 8, 1, (1,), '2D', 'DXT2', False, True, 64, 64, True),
             'DXT2, colours premultiplied by alpha (converted to straight alpha)\n'),
            (dds(8, 8, b'\0' * 32, fourcc=b'BC4S'), (8, 8, 1, (1,), '2D', 'BC4S', False, True, 32, 32, False),
             'BC4S, signed\n'),
            (dds(8, 8, b'\0' * 60, dx10=(98, 3, 0, 1)), (8, 8, 1, (1,), '2D', 'BC7_UNORM', False, True, 60, 64, False),
             'BC7_UNORM, truncated surface data: 60 bytes of 64\n'),
            (dds(8, 8, b'\0' * 64, dx10=(95, 3, 0, 1)),
             (8, 8, 1, (1,), '2D', 'BC6H_UF16', False, True, 64, 64, False),
             'BC6H_UF16, HDR (more than 8 bits a channel, or floats)'),
            (dds(8, 8, b'\0' * 256, dx10=(28, 3, 0, 1)), (8, 8, 1, (1,), '2D', 'R8G8B8A8_UNORM', False, True, 256,
                                                           256, False), 'R8G8B8A8_UNORM\n'),
            (dds(8, 8, b'\0' * 256, dx10=(100, 3, 0, 1)), (8, 8, 1, (1,), '2D', 'AYUV', False, False, 256, 256, False),
             'AYUV, not converted (video layouts (YUV) are not decoded)\n'),
            (layout_dds(8, 8, b'\0' * 128, 16, (0xF800, 0x7E0, 0x1F, 0)),
             (8, 8, 1, (1,), '2D', 'uncompressed 16-bit RGB (B5G6R5)', False, True, 128, 128, False),
             'uncompressed 16-bit RGB (B5G6R5)\n'),
            (dds(8, 8, b'\0' * 9, dx10=(200, 3, 0, 1)), (8, 8, 1, (1,), '2D', 'DXGI format 200', False, False, None,
                                                          None, False), 'DXGI format 200, not'),
            (dds(8, 8, b'\0' * 9, fourcc=b'\x71\0\0\0'), (8, 8, 1, (1,), '2D', 'FourCC 113 (R16G16B16A16_FLOAT)',
                                                             False, True, 9, 512, False),
             'FourCC 113 (R16G16B16A16_FLOAT), HDR (more than 8 bits a channel, or floats), truncated surface data: '
             '9 bytes of 512\n'),
            (dds(8, 8, b'\0' * 9, fourcc=b'ABCD'), (8, 8, 1, (1,), '2D', "FourCC 'ABCD'", False, False, None, None,
                                                    False), "FourCC 'ABCD', not"),
            # A file shorter than its first level says so; one whose later levels are short has the whole ones.
            (dds(8, 8, b'\0' * 32)[:-3], (8, 8, 1, (1,), '2D', 'DXT1', False, True, 29, 32, False),
             'DXT1, truncated surface data: 29 bytes of 32\n'),
            (dds(8, 8, b'\0' * 56, levels=4)[:-3], (8, 8, 3, (1, 1, 1), '2D', 'DXT1', False, True, 48, 48, False),
             'DXT1, 4 mip levels read as 3 (the data holds 3 whole)\n'),
        ]
        opaque = dds(8, 8, solid(COLOURS[0], 8, 8), dx10=(71, 3, 0, 1))
        opaque = opaque[:144] + struct.pack('<I', 3) + opaque[148:]  # alpha mode 3: opaque
        layouts.append((opaque, (8, 8, 1, (1,), '2D', 'BC1_UNORM', True) + whole + (False,), 'alpha declared opaque'))
        premultiplied = dds(8, 8, solid(COLOURS[0], 8, 8), dx10=(71, 3, 0, 1))
        premultiplied = premultiplied[:144] + struct.pack('<I', 2) + premultiplied[148:]  # alpha mode 2
        layouts.append((premultiplied, (8, 8, 1, (1,), '2D', 'BC1_UNORM', False) + whole + (True,),
                        'BC1_UNORM, colours premultiplied'))
        for n, (blob, facts, line) in enumerate(layouts):
            source = self.write('%d.dds' % n, blob)
            self.assertEqual(tuple(dds2png.info(source))[:len(facts)], facts)  # Headers mended: Permissive
            self.assertEqual(dds2png.info(io.BytesIO(blob)), dds2png.info(source))  # a stream is counted too
            status, err, out = self.run_tool('--info', source, self.path('missing.dds'))
            self.assertEqual(status, 1)
            self.assertIn(line, out.decode('utf-8'))
            self.assertEqual(err, 'dds2png: %s: No such file or directory\n' % self.path('missing.dds'))
        # It reads headers alone: options of a conversion are refused.
        for option in (['--level', '1'], ['--layer', '0'], ['--opaque'], ['--compression', '6'], ['--threads', '2']):
            status, err, out = self.run_tool(*(['--info'] + option + [source]))
            self.assertEqual((status, out, err.splitlines()[-1]),
                             (2, b'', 'dds2png: error: --info reads headers alone: %s is for converting' % option[0]))

    def test_an_interrupt_anywhere_in_writing_leaves_nothing_behind(self):
        # Ctrl-C reaches Python code between any two steps. A tracer raises
        # KeyboardInterrupt at each step of the output's writing in turn (each
        # bytecode where Python reports them, else each line): the caller must
        # get it unchanged, with no temporary file and no descriptor left.
        source = self.write('in.dds', dds(8, 4, solid(COLOURS[3], 8, 4)))
        outputs = os.path.splitext(dds2png.outputs.__file__)[0] + '.py'
        fds = sorted(os.listdir('/proc/self/fd'))
        target = self.path('out.png')
        for existing in (False, True):
            def convert():
                if existing:
                    with open(target, 'wb') as f:
                        f.write(b'old')
                dds2png.convert(source, target)

            def check(step):
                self.assertEqual(sorted(os.listdir('/proc/self/fd')), fds, 'step %d' % step)
                left = sorted(os.listdir(self.dir))
                self.assertIn(left, [['in.dds'], ['in.dds', 'out.png']], 'step %d' % step)
                if 'out.png' in left:
                    with open(target, 'rb') as f:
                        self.assertIn(f.read()[:4], [b'old', b'\x89PNG'])
                    os.remove(target)
            self.assertGreater(interrupt_at_every_step(convert, lambda code: code.co_filename == outputs, check), 10)

    def test_a_second_interrupt_while_the_first_is_handled(self):
        # Ctrl-C while the PNG is written, then another at each step of the
        # temporary file's clean-up in turn (a second Ctrl-C, or a pool's
        # SIGTERM, raising in its handler, as the worker takes the Ctrl-C sent
        # to the whole group): the clean-up still ends, and no temporary file
        # or descriptor is left. The file was left when the second came before its unlink.
        source = self.write('in.dds', dds(8, 4, 2 * solid(COLOURS[3], 8, 4), b'DXT5'))
        outputs = os.path.splitext(dds2png.outputs.__file__)[0] + '.py'
        fds = sorted(os.listdir('/proc/self/fd'))

        class FirstInterrupt(KeyboardInterrupt):
            pass

        def interrupted(self, data):
            raise FirstInterrupt

        def convert():
            try:
                dds2png.convert(source, self.path('out.png'))
            except FirstInterrupt:
                pass  # no second one came: the steps are done

        def check(step):
            self.assertEqual(sorted(os.listdir('/proc/self/fd')), fds, 'step %d' % step)
            self.assertEqual(os.listdir(self.dir), ['in.dds'], 'step %d' % step)
        saved, dds2png.outputs.WholeWrites.write = dds2png.outputs.WholeWrites.write, interrupted
        try:
            cleaning = ('discard', 'close_descriptors_of', 'remove')
            self.assertGreater(interrupt_at_every_step(
                convert, lambda code: code.co_filename == outputs and code.co_name in cleaning, check), 5)
        finally:
            dds2png.outputs.WholeWrites.write = saved

    def test_main_restores_what_it_set(self):
        source = self.write('in.dds', dds(8, 4, solid(COLOURS[3], 8, 4)))
        stop = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
        before = [signal.getsignal(number) for number in stop]
        self.assertEqual(main([source, self.path('out.png')]), 0)
        self.assertEqual([signal.getsignal(number) for number in stop], before)
        # A status, never SystemExit: usage errors, --version, --help.
        self.assertEqual([main([]), main(['--bogus']), main([source] * 3)], [2, 2, 2])

        def interrupted(*args):
            raise KeyboardInterrupt
        saved, dds2png.command.conversion_error = dds2png.command.conversion_error, interrupted
        try:
            self.assertEqual(main([source, self.path('out2.png')]), 130)
        finally:
            dds2png.command.conversion_error = saved
        self.assertEqual([signal.getsignal(number) for number in stop], before)
        # Ctrl-C just as a handler is set, and just as the default one is put back.
        real_signal = signal.signal
        for moment in ('set', 'restored'):
            def signal_then_interrupt(number, handler):
                previous = real_signal(number, handler)
                if number == signal.SIGINT and (handler is dds2png.batch.interrupt) == (moment == 'set'):
                    if handler is not dds2png.batch.ignore_signal:
                        signal.signal = real_signal
                        os.kill(os.getpid(), signal.SIGINT)
                return previous
            signal.signal = signal_then_interrupt
            try:
                self.assertEqual(main([source, self.path('out3.png')]), 130, moment)
            finally:
                signal.signal = real_signal
            self.assertEqual([signal.getsignal(number) for number in stop], before, moment)
        # From another thread, where no handler can be set: a batch too.
        statuses = []
        worker = threading.Thread(target=lambda: statuses.append(main(['-o', self.path('pngs'), source])))
        worker.start()
        worker.join()
        self.assertEqual(statuses, [0])

    def test_threads_converting_at_once_keep_the_umask(self):
        # The umask is read by setting it: threads that did so at once made
        # files 0o666 under umask 022, and could leave the process's umask 0.
        real_umask, errors = os.umask, []

        def slow_umask(mask):  # widens the window in which another thread may run
            previous = real_umask(mask)
            time.sleep(0.001)
            return previous

        def convert_many(thread):
            try:
                for i in range(20):
                    dds2png.convert(source, self.path('%d-%d.png' % (thread, i)))
            except Exception as e:
                errors.append(e)
        source = self.write('in.dds', dds(8, 4, solid(COLOURS[3], 8, 4)))
        saved, os.umask = real_umask(0o022), slow_umask
        try:
            threads = [threading.Thread(target=convert_many, args=(t,)) for t in range(4)]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
        finally:
            os.umask = real_umask
            umask_after = real_umask(saved)
        self.assertEqual((errors, umask_after), ([], 0o022))
        modes = set(stat.S_IMODE(os.stat(self.path(name)).st_mode)
                    for name in os.listdir(self.dir) if name.endswith('.png'))
        self.assertEqual(modes, set([0o644]))

    def test_version_is_the_packages(self):
        with open(os.path.join(ROOT, 'packaging', 'dxt1-package.json')) as f:
            version = json.load(f)['version']
        import _dxt1a
        platform = 'x86-64' if struct.calcsize('P') == 8 else '32-bit x86'
        if os.uname()[4] in ('aarch64', 'arm64'):
            platform = '64-bit ARM'
        # The decoder as the dispatcher chose it, which the module reports.
        expected = 'dds2png %s (decoder: %s, %s)\n' % (version, _dxt1a.decoder, platform)
        self.assertEqual(self.run_tool('--version'), (0, '', expected.encode('ascii')))


class Program(ToolTest):
    def test_runs_as_a_module_with_nothing_on_the_path(self):
        # The package needs no other program: it runs with an empty PATH.
        env = dict(os.environ, PATH='')
        process = subprocess.Popen(TOOL + [SAMPLE, self.path('logo.png')], env=env, stderr=subprocess.PIPE)
        self.assertEqual((process.wait(), process.stderr.read()), (0, b''))
        process.stderr.close()
        self.assertEqual(read_png(self.path('logo.png'))[:2], (256, 192))

    def test_help_gives_the_documented_usage(self):
        status, err, out = self.run_tool('--help')
        usage = [line.strip() for line in out.decode().split('\n\n')[0].replace('usage:', '').splitlines()]
        with io.open(os.path.join(ROOT, 'docs', 'dds2png.md'), encoding='utf-8') as f:
            documented = [line.strip() for line in f if line.startswith('    dds2png [--') or
                          line.startswith('    dds2png --')]
        self.assertEqual((status, err, usage), (0, '', documented))
        self.assertNotIn(b'PATH', out)  # the arguments are named as the usage names them

    def test_ctrl_c_while_its_modules_import(self):
        # The command's file, as each install copies it, run with Ctrl-C
        # arriving as one module or another begins to import.
        script = r"""
import os, signal, sys
module, command = sys.argv[1:3]

class Interrupter(object):
    def find_module(self, name, path=None):
        if name == module:
            sys.meta_path.remove(self)
            os.kill(os.getpid(), signal.SIGINT)

    def find_spec(self, name, path, target=None):
        return self.find_module(name)
sys.meta_path.insert(0, Interrupter())
sys.argv = [command, '--version']
with open(command) as f:
    code = compile(f.read(), command, 'exec')
exec(code, {'__name__': '__main__'})
"""
        command = os.path.join(TOOLS, 'dds2png', '__main__.py')
        for module in ('dds2png', 'dds2png.library', 'dds2png.png', 'dds2png.command', 'argparse', 'nothing'):
            process = subprocess.Popen([sys.executable, '-c', script, module, command], cwd=self.dir,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            out, err = process.communicate()
            if module == 'nothing':
                self.assertEqual((process.returncode, out[:8], err), (0, b'dds2png ', b''))
            else:
                self.assertEqual((process.returncode, out, err), (130, b'', b'dds2png: interrupted\n'), module)

    def test_a_stop_signal_after_the_command_ended_changes_nothing(self):
        # Ctrl-C, a closed terminal and kill as the program is about to exit,
        # its work done: its own status, no traceback, no death by the signal.
        script = r"""
import os, signal, sys
sys.path.insert(0, sys.argv[1])
sys.argv = ['dds2png', '--version']
from dds2png.__main__ import run
status = run()
for number in (signal.SIGINT, signal.SIGHUP, signal.SIGTERM):
    os.kill(os.getpid(), number)
sys.exit(status)
"""
        process = subprocess.Popen([sys.executable, '-c', script, TOOLS], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        out, err = process.communicate()
        self.assertEqual((process.returncode, out[:8], err), (0, b'dds2png ', b''))


if __name__ == '__main__':
    unittest.main()
