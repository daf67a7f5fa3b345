"""Every way of installing the package: a wheel, a wheel built from the sdist,
an editable install and setup.py install. Each route must install every
module, _dxt1, _dxt1a, _bcn and _pixels, and each must decode; each installed dds2png
must run."""
import base64
import hashlib
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, 'packaging'))
import dxt1_build  # noqa: E402
import dxt1_package as package  # noqa: E402

BASE = '%s-%s' % (package.NAME, package.VERSION)
RED_TO_BLUE = b'\x00\xf8\x1f\x00\xe4\xe4\xe4\xe4'
RED_TO_BLUE_ROW = [248, 0, 0, 0, 0, 248, 165, 0, 82, 82, 0, 165]
RED_TO_BLUE_RGBA_ROW = [248, 0, 0, 255, 0, 0, 248, 255, 165, 0, 82, 255, 82, 0, 165, 255]


def pip_version():
    try:
        import pip
    except ImportError:
        return ()
    return tuple(int(part) for part in pip.__version__.split('.')[:2])


def has_setuptools():
    return subprocess.call([sys.executable, '-c', 'import setuptools'], stderr=subprocess.STDOUT,
                           stdout=open(os.devnull, 'w')) == 0


class InstallRoutes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp()
        # The backend's own temporary folders go here, so that leftovers show.
        cls.temp = os.path.join(cls.dir, 'temp')
        os.mkdir(cls.temp)
        cls.saved_tempdir, tempfile.tempdir = tempfile.tempdir, cls.temp
        cls.wheel_name = dxt1_build.build_wheel(cls.dir)
        cls.wheel = zipfile.ZipFile(os.path.join(cls.dir, cls.wheel_name))

    @classmethod
    def tearDownClass(cls):
        cls.wheel.close()
        tempfile.tempdir = cls.saved_tempdir
        shutil.rmtree(cls.dir)

    def tearDown(self):
        self.assertEqual(os.listdir(self.temp), [], 'the build left temporary files')

    def run_quietly(self, command, **kwargs):
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kwargs)
        output = process.communicate()[0].decode('utf-8', 'replace')
        self.assertEqual(process.returncode, 0, '%s failed:\n%s' % (command, output[-3000:]))
        return output

    def clean_env(self, path=None):
        """The environment without the build tree's module folder, or with `path` instead."""
        env = dict(os.environ)
        env.pop('PYTHONPATH', None)
        if path:
            env['PYTHONPATH'] = path
        return env

    def check_installed(self, python, script, path=None, root=None):
        """The modules that `python` imports (with `path` as PYTHONPATH) come
        from the installation (under `root`, by default the script's folder's
        parent) and decode; the installed dds2png module reads and the
        installed command knows its version and converts."""
        env = self.clean_env(path)
        install = root or os.path.dirname(os.path.dirname(script))
        for module, function, expected in (('_dxt1', 'decodeDXT1', RED_TO_BLUE_ROW),
                                           ('_dxt1a', 'decodeDXT1A', RED_TO_BLUE_RGBA_ROW),
                                           ('_bcn', 'decodeBC1', RED_TO_BLUE_RGBA_ROW)):
            code = ('import %s as m, sys; sys.stdout.write(repr((m.__file__, list(bytearray('
                    'm.%s(%r)[3])))))' % (module, function, RED_TO_BLUE))
            location, row = eval(self.run_quietly([python, '-c', code], env=env, cwd=self.dir))
            self.assertTrue(os.path.realpath(location).startswith(os.path.realpath(install)), location)
            self.assertEqual(row, expected, module)
        # _pixels: a 5-6-5 pixel, 0xF81F, is magenta.
        code = ('import _pixels as m, sys; sys.stdout.write(repr((m.__file__, list(bytearray(m.decodePixels('
                'b"\\x1f\\xf8", 1, 1, 2, 16, (("unorm", 11, 5), ("unorm", 5, 6), ("unorm", 0, 5)), "uint8"))))))')
        location, row = eval(self.run_quietly([python, '-c', code], env=env, cwd=self.dir))
        self.assertTrue(os.path.realpath(location).startswith(os.path.realpath(install)), location)
        self.assertEqual(row, [255, 0, 255], '_pixels')
        sample = os.path.join(ROOT, 'samples', 'logo.dds')
        code = ('import dds2png, os, sys; sys.stdout.write(repr((dds2png.read(sys.argv[1])[:2], '
                'os.path.dirname(dds2png.__file__))))')
        size, converter = eval(self.run_quietly([python, '-c', code, sample], env=env, cwd=self.dir))
        self.assertEqual(size, (256, 192))
        # Type information, where type checkers look for it: beside the modules.
        for folder, name in [(converter, '__init__.pyi'), (converter, 'py.typed'),
                             (os.path.dirname(location), '_dxt1-stubs/__init__.pyi'),
                             (os.path.dirname(location), '_dxt1a-stubs/__init__.pyi'),
                             (os.path.dirname(location), '_bcn-stubs/__init__.pyi'),
                             (os.path.dirname(location), '_pixels-stubs/__init__.pyi')]:
            self.assertTrue(os.path.isfile(os.path.join(folder, name)), name)
        for command in ([script], [python, '-m', 'dds2png']):
            self.assertTrue(self.run_quietly(command + ['--version'], env=env, cwd=self.dir).startswith(
                'dds2png %s (decoder: ' % package.VERSION))
        target = os.path.join(self.dir, 'logo.png')
        self.run_quietly([script, sample, target], env=env, cwd=self.dir)
        with open(target, 'rb') as f:
            self.assertEqual(f.read(8), b'\x89PNG\r\n\x1a\n')
        os.remove(target)

    def install_wheel(self, wheel_path, name):
        target = os.path.join(self.dir, name)
        self.run_quietly([sys.executable, '-m', 'pip', 'install', '--no-index', '--no-deps', '--target', target,
                          wheel_path])
        return target

    def test_wheel_is_tagged_recorded_and_installs(self):
        self.assertEqual(dxt1_build.get_requires_for_build_wheel(), [])
        tag = 'cp%d%d' % sys.version_info[:2]
        self.assertTrue(self.wheel_name.startswith('%s-%s-' % (BASE, tag)), self.wheel_name)
        wheel_file = self.wheel.read(BASE + '.dist-info/WHEEL').decode('ascii')
        self.assertIn('Root-Is-Purelib: false', wheel_file)
        self.assertIn('Tag: ' + self.wheel_name[len(BASE) + 1:-len('.whl')], wheel_file)
        lines = self.wheel.read(BASE + '.dist-info/RECORD').decode('ascii').split()
        entries = dict((line.split(',')[0], line.split(',')[1:]) for line in lines)
        self.assertEqual(sorted(entries), sorted(self.wheel.namelist()))
        for name, (digest, size) in entries.items():
            if name.endswith('RECORD'):
                continue
            data = self.wheel.read(name)
            expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b'=').decode('ascii')
            self.assertEqual((digest, int(size)), ('sha256=' + expected, len(data)), name)
        with open(os.path.join(ROOT, 'LICENSE'), 'rb') as f:
            self.assertEqual(self.wheel.read(BASE + '.dist-info/LICENSE'), f.read())
        metadata = self.wheel.read(BASE + '.dist-info/METADATA').decode('utf-8')
        for line in ['License: MIT', 'Requires-Python: >=2.7', 'Description-Content-Type: text/markdown',
                     'Classifier: Programming Language :: Python :: 2.7', '\n\n# _dxt1\n']:
            self.assertIn(line, metadata)
        target = self.install_wheel(os.path.join(self.dir, self.wheel_name), 'wheel')
        self.check_installed(sys.executable, os.path.join(target, 'bin', 'dds2png'), target)

    def test_metadata_is_prepared_without_compiling(self):
        compile_module = dxt1_build._compile
        dxt1_build._compile = None  # calling it would fail the test
        try:
            metadata = os.path.join(self.dir, 'metadata')
            os.mkdir(metadata)
            dist_info = dxt1_build.prepare_metadata_for_build_wheel(metadata)
        finally:
            dxt1_build._compile = compile_module
        prepared = sorted(os.listdir(os.path.join(metadata, dist_info)))
        self.assertEqual(prepared, ['LICENSE', 'METADATA', 'entry_points.txt'])
        for name in prepared:
            with open(os.path.join(metadata, dist_info, name), 'rb') as f:
                self.assertEqual(f.read(), self.wheel.read(dist_info + '/' + name), name)

    def test_sdist_builds_the_same_wheel_offline(self):
        sdist = dxt1_build.build_sdist(self.dir)
        self.assertEqual(sdist, BASE + '.tar.gz')
        unpacked = os.path.join(self.dir, 'sdist')
        with tarfile.open(os.path.join(self.dir, sdist)) as archive:
            archive.extractall(unpacked)
        source = os.path.join(unpacked, BASE)
        # What the README links to comes with it, and all the tree's CMake
        # build needs (make demo, make test): every file of the tree but CI's.
        for name in ['LICENSE', 'docs/dds2png.md', 'docs/installing.md', 'samples/logo.dds']:
            self.assertTrue(os.path.isfile(os.path.join(source, name)), name)
        try:
            tracked = subprocess.check_output(['git', 'ls-files'], cwd=ROOT, stderr=subprocess.STDOUT)
        except (OSError, subprocess.CalledProcessError):
            tracked = None  # not a git checkout (an sdist's own tree, say)
        if tracked is not None:
            shipped = set(os.path.relpath(os.path.join(folder, name), source)
                          for folder, _, names in os.walk(source) for name in names)
            self.assertEqual(sorted(set(tracked.decode('utf-8').splitlines()) - shipped), ['.ci/run', '.gitignore'])
        wheels = os.path.join(self.dir, 'sdist-wheels')
        os.mkdir(wheels)
        code = 'import sys; sys.path.insert(0, "packaging"); import dxt1_build; dxt1_build.build_wheel(sys.argv[1])'
        self.run_quietly([sys.executable, '-c', code, wheels], cwd=source)
        self.assertEqual(os.listdir(wheels), [self.wheel_name])
        with zipfile.ZipFile(os.path.join(wheels, self.wheel_name)) as rebuilt:
            self.assertEqual(sorted(rebuilt.namelist()), sorted(self.wheel.namelist()))
        target = self.install_wheel(os.path.join(wheels, self.wheel_name), 'sdist-wheel')
        self.check_installed(sys.executable, os.path.join(target, 'bin', 'dds2png'), target)

    def test_the_documented_sdist_command(self):
        # `python3 -m build --sdist --no-isolation` (Debian: python3-build) uses the project's backend.
        python = [p for p in (sys.executable, '/usr/bin/python3') if subprocess.call(
            [p, '-c', 'import build.__main__'], cwd=self.dir, stdout=open(os.devnull, 'w'),
            stderr=subprocess.STDOUT) == 0]
        if not python:
            self.skipTest('no interpreter here has the build package (python3-build)')
        out = os.path.join(self.dir, 'built-sdist')
        self.run_quietly([python[0], '-m', 'build', '--sdist', '--no-isolation', '--outdir', out, ROOT], cwd=self.dir)
        self.assertEqual(os.listdir(out), [BASE + '.tar.gz'])
        ours = os.path.join(self.dir, 'backend-sdist')
        os.mkdir(ours)
        dxt1_build.build_sdist(ours)
        with tarfile.open(os.path.join(out, BASE + '.tar.gz')) as built, \
                tarfile.open(os.path.join(ours, BASE + '.tar.gz')) as expected:
            self.assertEqual(sorted(built.getnames()), sorted(expected.getnames()))

    @unittest.skipUnless(sys.version_info[0] >= 3 and pip_version() >= (22, 3),
                         'an editable install needs Python 3 and pip 22.3 or later here')
    def test_editable_install(self):
        venv = os.path.join(self.dir, 'venv')
        self.run_quietly([sys.executable, '-m', 'venv', '--without-pip', venv])
        python = os.path.join(venv, 'bin', 'python')
        self.run_quietly([sys.executable, '-m', 'pip', '--python', python, 'install', '--no-index', '-e', ROOT],
                         env=self.clean_env())
        self.check_installed(python, os.path.join(venv, 'bin', 'dds2png'))
        # The command runs the tree's own package.
        code = 'import dds2png, sys; sys.stdout.write(dds2png.__file__)'
        location = self.run_quietly([python, '-c', code], env=self.clean_env(), cwd=self.dir)
        self.assertEqual(os.path.dirname(os.path.realpath(location)), os.path.join(ROOT, 'tools', 'dds2png'))

    @unittest.skipUnless(has_setuptools(), 'this interpreter has no setuptools')
    @unittest.skipIf(' ' in sys.executable, "setuptools puts an interpreter path with spaces in quotes on a "
                     "command's #! line, which Linux cannot run")
    def test_setup_py_install_from_another_folder(self):
        prefix = os.path.join(self.dir, 'prefix')
        output = self.run_quietly([sys.executable, os.path.join(ROOT, 'setup.py'), 'install', '--prefix', prefix],
                                  env=self.clean_env(), cwd=self.dir)
        self.assertNotIn('-Wstrict-prototypes', output)  # a C flag, which g++ warns about
        # Where the files land differs between builds of Python (Debian's: local/lib/.../dist-packages).
        sites = [os.path.dirname(folder) for folder, _, names in os.walk(prefix)
                 if os.path.basename(folder) == 'dds2png' and 'command.py' in names]
        self.assertEqual(len(sites), 1, 'the files themselves, not a zipped egg')
        scripts = [os.path.join(folder, 'dds2png') for folder, _, names in os.walk(prefix) if 'dds2png' in names]
        self.assertEqual(len(scripts), 1)
        self.check_installed(sys.executable, scripts[0], sites[0], prefix)
        # The command finds its package wherever the prefix is, with no PYTHONPATH.
        self.assertTrue(self.run_quietly([scripts[0], '--version'], env=self.clean_env(), cwd=self.dir).startswith(
            'dds2png %s (decoder: ' % package.VERSION))
        # The distribution is dxt1, and pip removes all of it: modules, package and command.
        if pip_version():
            # Debian's pip guards its own interpreter's files; these are the test's.
            env = dict(self.clean_env(sites[0]), PIP_BREAK_SYSTEM_PACKAGES='1')
            self.run_quietly([sys.executable, '-m', 'pip', 'uninstall', '-y', package.NAME], env=env, cwd=self.dir)
            left = [os.path.join(folder, name) for folder, _, names in os.walk(prefix) for name in names]
            self.assertEqual(left, [])

    def test_failed_compile_reports_the_compiler_and_cleans_up(self):
        saved = os.environ.get('CXX')
        os.environ['CXX'] = 'sh -c "echo no compiler here >&2; exit 3" sh'
        try:
            with self.assertRaises(dxt1_build.CompileError) as raised:
                dxt1_build.build_wheel(self.dir)
        finally:
            if saved is None:
                del os.environ['CXX']
            else:
                os.environ['CXX'] = saved
        self.assertIn('no compiler here', str(raised.exception))
        self.assertIn('status 3', str(raised.exception))


if __name__ == '__main__':
    unittest.main()
