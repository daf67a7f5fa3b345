"""The README's examples, run as typed: the code is taken from the README
itself, so an example that stops working fails here.

    test_examples.py [ReadmeExamples.test_dask ...]

Needs dds2png and _dxt1 importable through PYTHONPATH (the workers of both
examples are fresh processes, which find them the same way)."""
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest

from test_dds2png import (BC6H_DECODED, BC6H_MODE_11, ROOT, SAMPLE, SAMPLE_PIXELS_SHA256, dds, image, read_png,
                           solid, COLOURS)

README = os.path.join(ROOT, 'README.md')
EXAMPLE_TIMEOUT = 600  # seconds; a Dask cluster starts in a few


def readme_example(marker):
    """The one Python code block of the README that contains `marker`."""
    with io.open(README, encoding='utf-8') as f:  # whatever the locale says
        blocks = re.findall(r'^```python\n(.*?)^```$', f.read(), re.M | re.S)
    found = [block for block in blocks if marker in block]
    assert len(found) == 1, 'the README has %d Python examples with %r' % (len(found), marker)
    return found[0]


def readme_commands(heading):
    """The indented command lines under a README heading, comments removed."""
    with io.open(README, encoding='utf-8') as f:
        section = f.read().split('\n## ' + heading + '\n', 1)[1].split('\n## ', 1)[0]
    section = re.sub(r'^```.*?^```$', '', section, flags=re.M | re.S)  # not the Python examples
    return [line.split('#')[0].strip() for line in re.findall(r'^    (\S.*)$', section, re.M)
            if not line.startswith('    ')]


def can_import(*names):
    try:
        for name in names:
            __import__(name)
    except ImportError:
        return False
    return True


class ReadmeExamples(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        os.mkdir(os.path.join(self.dir, 'textures'))
        # Sizes that end inside a block, one block row, and several.
        self.expected = {}
        for n, (c, (width, height)) in enumerate(zip(COLOURS, [(5, 3), (4, 4), (64, 24), (9, 17)] * 2)):
            name = os.path.join(self.dir, 'textures', 't%d' % n)
            with open(name + '.dds', 'wb') as f:
                f.write(dds(width, height, solid(c, width, height)))
            self.expected[name + '.png'] = image(width, [(c, height)])
        # One bad file among the good ones: the examples report it and convert the rest.
        with open(os.path.join(self.dir, 'textures', 'bad.dds'), 'wb') as f:
            f.write(dds(8, 8, solid(COLOURS[0], 8, 4)))

    def tearDown(self):
        shutil.rmtree(self.dir)

    def run_example(self, marker):
        """Runs the example in the temporary folder, with the tree's samples/ there."""
        script = os.path.join(self.dir, 'example.py')
        with io.open(script, 'w', encoding='utf-8') as f:
            f.write(readme_example(marker))
        if not os.path.isdir(os.path.join(self.dir, 'samples')):
            os.mkdir(os.path.join(self.dir, 'samples'))
            shutil.copy(SAMPLE, os.path.join(self.dir, 'samples'))
        process = subprocess.Popen([sys.executable, script], cwd=self.dir,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        # A pool that hangs fails the test, not the run.
        watchdog = threading.Timer(EXAMPLE_TIMEOUT, process.kill)
        watchdog.start()
        try:
            output = process.communicate()[0].decode('utf-8', 'replace')
        finally:
            watchdog.cancel()
            watchdog.join()
        self.assertEqual(process.returncode, 0, output)
        return output

    def check_converted(self, output):
        """Every good file converted, and the bad one's error printed by the caller."""
        for target, expected in sorted(self.expected.items()):
            self.assertEqual(read_png(target), expected, target)
        self.assertFalse(os.path.exists(os.path.join(self.dir, 'textures', 'bad.png')))
        self.assertIn('textures/bad.dds: truncated surface data: 16 bytes of 32\n', output)

    def test_conversion_commands(self):
        # The README's commands as typed, its `dds2png` being the package's command.
        bin_dir = os.path.join(self.dir, 'bin')
        os.mkdir(bin_dir)
        with open(os.path.join(bin_dir, 'dds2png'), 'w') as f:
            f.write('#!/bin/sh\nexec "%s" -m dds2png "$@"\n' % sys.executable)
        os.chmod(os.path.join(bin_dir, 'dds2png'), 0o755)
        shutil.copy(os.path.join(self.dir, 'textures', 't3.dds'), os.path.join(self.dir, 'texture.dds'))
        shutil.copytree(os.path.join(ROOT, 'samples'), os.path.join(self.dir, 'samples'))
        # A BC5 normal map, red and green 128 everywhere: a flat normal, blue 255.
        with open(os.path.join(self.dir, 'normals.dds'), 'wb') as f:
            f.write(dds(4, 4, (b'\x80\x80' + b'\0' * 6) * 2, fourcc=b'ATI2'))
        # A cube map of two levels, each face its own colour, for --level all --layer all.
        faces = b''.join(solid(COLOURS[f], 4, 4) + solid(COLOURS[7 - f], 2, 2) for f in range(6))
        with open(os.path.join(self.dir, 'sky.dds'), 'wb') as f:
            f.write(dds(4, 4, faces, levels=2, caps2=0x200 | 0xFC00))
        env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ['PATH'])
        commands = [line for line in readme_commands('Convert DDS files') if line.startswith('dds2png')]
        self.assertEqual(len(commands), 12, commands)
        for command in commands:
            process = subprocess.Popen(['sh', '-c', command], cwd=self.dir, env=env,
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            output = process.communicate()[0].decode('utf-8', 'replace')
            # The batch reports the bad file among the good ones with status 1 (--info reads headers alone).
            self.assertEqual(process.returncode, 1 if ' -o ' in command else 0, command + '\n' + output)
        width, height, rows = read_png(os.path.join(self.dir, 'cutout.png'))  # the transparent sample: RGBA
        self.assertEqual((width, height, [len(row) for row in rows[:1]]), (64, 64, [4 * 64]))
        for target in ('texture.png', 'flat.png'):  # an opaque texture: RGB either way
            self.assertEqual(read_png(os.path.join(self.dir, target)),
                             self.expected[os.path.join(self.dir, 'textures', 't3.png')])
        self.assertEqual(read_png(os.path.join(self.dir, 'game.png'))[:2],  # the gpu rule: the same image's size
                         read_png(os.path.join(self.dir, 'texture.png'))[:2])
        self.assertEqual(read_png(os.path.join(self.dir, 'n.png')), (4, 4, [b'\x80\x80\xff' * 4] * 4))
        with open(os.path.join(self.dir, 'texture.exr'), 'rb') as f:
            self.assertEqual(f.read(4), b'\x76\x2f\x31\x01')  # OpenEXR's magic number
        for target, expected in self.expected.items():  # into pngs/, which the batch made
            self.assertEqual(read_png(os.path.join(self.dir, 'pngs', os.path.basename(target))), expected)
        faces = ['+X', '-X', '+Y', '-Y', '+Z', '-Z']
        self.assertEqual(sorted(name for name in os.listdir(self.dir) if name.startswith('sky-')),
                         sorted('sky-level%d-layer%s.png' % (level, face) for level in (0, 1) for face in faces))
        self.assertEqual(read_png(os.path.join(self.dir, 'sky-level1-layer+Y.png')), image(2, [(COLOURS[5], 2)]))

    def test_library(self):
        # A truncated texture: its kind's fields, printed the same by Python 2.7 and 3; then a whole one.
        texture = os.path.join(self.dir, 'texture.dds')
        shutil.copy(os.path.join(self.dir, 'textures', 'bad.dds'), texture)
        self.assertEqual(self.run_example('dds2png.TruncatedError'),
                         'texture.dds truncated surface data: 16 bytes of 32\n')
        shutil.copy(os.path.join(self.dir, 'textures', 't2.dds'), texture)
        self.assertTrue(self.run_example('dds2png.TruncatedError').startswith('Info(width=64, height=24, '))
        self.assertEqual(read_png(os.path.join(self.dir, 'texture.png')), self.expected[os.path.join(
            self.dir, 'textures', 't2.png')])

    @unittest.skipUnless(can_import('PIL', 'numpy'), 'the image library or numpy is not installed')
    def test_decode_into_the_image_library(self):
        self.run_example('Image.frombytes')
        from PIL import Image
        pixels = Image.open(os.path.join(self.dir, 'logo.png')).convert('RGB').tobytes()
        self.assertEqual(hashlib.sha256(pixels).hexdigest(), SAMPLE_PIXELS_SHA256)

    @unittest.skipUnless(can_import('numpy') and BC6H_DECODED, 'numpy, or BC6H in _bcn, is missing')
    def test_hdr_into_numpy(self):
        # A 4 x 4 BC6H texture whose largest value is 1.5146484375, written as OpenEXR too.
        with open(os.path.join(self.dir, 'sky.dds'), 'wb') as f:
            f.write(dds(4, 4, BC6H_MODE_11, dx10=(95, 3, 0, 1)))
        self.assertEqual(self.run_example('numpy.float32').strip(), '1.5146484')
        self.assertTrue(os.path.exists(os.path.join(self.dir, 'sky.exr')))

    @unittest.skipIf(sys.version_info < (3, 2), 'concurrent.futures is Python 3')
    def test_concurrent_futures(self):
        self.check_converted(self.run_example('ProcessPoolExecutor'))

    def test_multiprocessing_pool(self):
        self.check_converted(self.run_example('multiprocessing.Pool'))

    def test_dask(self):
        if not can_import('dask.distributed'):
            # The build runs this test only under an interpreter it found Dask in.
            self.fail("Dask's distributed scheduler cannot be imported by %s" % sys.executable)
        output = self.run_example('dask.distributed')
        self.check_converted(output)
        self.assertNotIn('Compute Failed', output)  # the workers' own report, quieted


if __name__ == '__main__':
    unittest.main()
