"""The project's build backend: the wheel it makes for this interpreter holds
a working _dxt1 and the metadata installers read."""
import base64
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, 'packaging'))
import dxt1_build  # noqa: E402


class BuildBackend(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp()
        cls.wheel_name = dxt1_build.build_wheel(cls.dir)
        cls.wheel = zipfile.ZipFile(os.path.join(cls.dir, cls.wheel_name))

    @classmethod
    def tearDownClass(cls):
        cls.wheel.close()
        shutil.rmtree(cls.dir)

    def test_needs_nothing_to_build(self):
        self.assertEqual(dxt1_build.get_requires_for_build_wheel(), [])

    def test_wheel_is_tagged_for_this_interpreter(self):
        tag = 'cp%d%d' % sys.version_info[:2]
        self.assertTrue(self.wheel_name.startswith('dxt1-1.0.0-%s-' % tag), self.wheel_name)
        wheel_file = self.wheel.read('dxt1-1.0.0.dist-info/WHEEL').decode('ascii')
        self.assertIn('Root-Is-Purelib: false', wheel_file)
        self.assertIn('Tag: ' + self.wheel_name[len('dxt1-1.0.0-'):-len('.whl')], wheel_file)

    def test_record_lists_every_file_with_its_hash(self):
        lines = self.wheel.read('dxt1-1.0.0.dist-info/RECORD').decode('ascii').split()
        entries = dict((line.split(',')[0], line.split(',')[1:]) for line in lines)
        self.assertEqual(sorted(entries), sorted(self.wheel.namelist()))
        for name, (digest, size) in entries.items():
            if name.endswith('RECORD'):
                continue
            data = self.wheel.read(name)
            expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b'=').decode('ascii')
            self.assertEqual((digest, int(size)), ('sha256=' + expected, len(data)), name)

    def test_module_in_the_wheel_decodes(self):
        unpacked = os.path.join(self.dir, 'unpacked')
        self.wheel.extractall(unpacked)
        code = ('import _dxt1; import sys; '
                'sys.stdout.write(repr(_dxt1.decodeDXT1(b"\\x00\\xf8\\x1f\\x00\\xe4\\xe4\\xe4\\xe4")[3]))')
        output = subprocess.check_output([sys.executable, '-c', code], cwd=unpacked).decode('ascii')
        expected = bytes(bytearray([248, 0, 0, 0, 0, 248, 165, 0, 82, 82, 0, 165]))
        self.assertEqual(output, repr(expected))


if __name__ == '__main__':
    unittest.main()
