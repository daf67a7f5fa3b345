"""A build backend of the project's own, so that `pip install .` (and `-e .`)
works with nothing but a C++ compiler and the interpreter's headers: no
setuptools or wheel package needs to be installed or fetched.

It compiles the extension modules for the running interpreter with the flags
of dxt1-package.json and packs them, with the dds2png command, into a wheel.
"""
import base64
import hashlib
import os
import shlex
import shutil
import stat
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import time
import zipfile
from io import BytesIO

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dxt1_package as package  # noqa: E402

ROOT = package.ROOT
DIST_INFO = '%s-%s.dist-info' % (package.NAME, package.VERSION)


class CompileError(Exception):
    pass


def _tag():
    version = '%d%d' % sys.version_info[:2]
    if sys.version_info[0] >= 3:
        abi = 'cp' + version + sys.abiflags
    else:
        abi = 'cp' + version + 'm' + ('u' if sys.maxunicode > 0xffff else '')
    platform = sysconfig.get_platform().replace('-', '_').replace('.', '_')
    return 'cp%s-%s-%s' % (version, abi, platform)


def _compile(build_dir):
    """Builds every extension module into build_dir and returns their paths;
    a failed compile raises CompileError with the compiler's own message."""
    return [_compile_module(module, build_dir) for module in package.MODULES]


def _compile_module(module, build_dir):
    compiler = shlex.split(os.environ.get('CXX') or 'c++')
    suffix = sysconfig.get_config_var('EXT_SUFFIX') or sysconfig.get_config_var('SO')
    target = os.path.join(build_dir, module + suffix)
    include = sysconfig.get_paths()['include']
    # The parent folder holds multiarch headers such as i386-linux-gnu/python2.7/pyconfig.h.
    includes = [include, os.path.dirname(include)] + [os.path.join(ROOT, d) for d in package.include_dirs()]
    command = (compiler + package.compile_flags() + ['-fPIC', '-shared']
               + ['-I' + d for d in includes]
               + package.link_flags(module, ROOT) + ['-o', target]
               + [os.path.join(ROOT, source) for source in package.sources(module)])
    try:
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    except OSError as e:
        raise CompileError('cannot run the C++ compiler %r: %s (set CXX to name one)' % (compiler[0], e))
    output = process.communicate()[0].decode('utf-8', 'replace')
    if process.returncode != 0:
        raise CompileError('compiling %s failed (%s exited with status %d):\n%s'
                           % (module, compiler[0], process.returncode, output))
    return target


def _metadata_files():
    with open(os.path.join(ROOT, package.LICENSE_FILE), 'rb') as f:
        license_text = f.read()
    return [
        (DIST_INFO + '/METADATA', package.metadata().encode('utf-8')),
        # Console commands, which installers write launchers for that work
        # wherever the interpreter lives (a path with spaces included).
        (DIST_INFO + '/entry_points.txt', package.entry_points().encode('utf-8')),
        (DIST_INFO + '/' + os.path.basename(package.LICENSE_FILE), license_text),
    ]


def _write_metadata(metadata_directory):
    for name, data in _metadata_files():
        path = os.path.join(metadata_directory, name)
        if not os.path.isdir(os.path.dirname(path)):
            os.makedirs(os.path.dirname(path))
        with open(path, 'wb') as f:
            f.write(data)
    return DIST_INFO


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b'=').decode('ascii')
    return '%s,sha256=%s,%d' % (name, digest, len(data))


def _wheel(wheel_directory, files):
    """Writes a wheel of the compiled modules, the given files and the metadata."""
    tag = _tag()
    build_dir = tempfile.mkdtemp(prefix='dxt1-build-')
    try:
        compiled = []
        for module in _compile(build_dir):
            with open(module, 'rb') as f:
                compiled.append((os.path.basename(module), f.read()))
        files = compiled + files
    finally:
        shutil.rmtree(build_dir)
    files += _metadata_files()
    files.append((DIST_INFO + '/WHEEL', ('Wheel-Version: 1.0\nGenerator: dxt1_build\nRoot-Is-Purelib: false\n'
                                         'Tag: %s\n' % tag).encode('ascii')))
    record = '\n'.join([_record_line(name, data) for name, data in files] + [DIST_INFO + '/RECORD,,', ''])
    wheel_name = '%s-%s-%s.whl' % (package.NAME, package.VERSION, tag)
    with zipfile.ZipFile(os.path.join(wheel_directory, wheel_name), 'w', zipfile.ZIP_DEFLATED) as wheel:
        for name, data in files:
            entry = zipfile.ZipInfo(name, date_time=time.localtime(time.time())[:6])
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.external_attr = (stat.S_IFREG | 0o644) << 16
            wheel.writestr(entry, data)
        wheel.writestr(DIST_INFO + '/RECORD', record)
    return wheel_name




def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    return _write_metadata(metadata_directory)


def prepare_metadata_for_build_editable(metadata_directory, config_settings=None):
    return _write_metadata(metadata_directory)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    return _wheel(wheel_directory, package.package_files())


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    """The compiled module, and a .pth that puts the folders holding the
    tree's packages on sys.path: edits to them apply at once, while a change
    to the C++ sources needs the module rebuilt (pip install -e . again)."""
    code = dict((name, path) for name, path in package.PACKAGES.items() if not name.endswith('-stubs'))
    folders = sorted(set(os.path.join(ROOT, os.path.dirname(path)) for path in code.values()))
    pth = ('\n'.join(folders) + '\n').encode('utf-8')
    stubs = [(name, data) for name, data in package.package_files() if name.split('/')[0] not in code]
    return _wheel(wheel_directory, [('%s-editable.pth' % package.NAME, pth)] + stubs)


def build_sdist(sdist_directory, config_settings=None):
    """A source archive that builds offline into the same wheel."""
    base = '%s-%s' % (package.NAME, package.VERSION)
    name = base + '.tar.gz'

    def clean(info):
        if os.path.basename(info.name) in ('__pycache__',) or info.name.endswith('.pyc'):
            return None
        info.uid = info.gid = 0
        info.uname = info.gname = 'root'
        return info

    with tarfile.open(os.path.join(sdist_directory, name), 'w:gz') as sdist:
        for path in package.PACKAGE['sdist']:
            sdist.add(os.path.join(ROOT, path), arcname=base + '/' + path, filter=clean)
        pkg_info = tarfile.TarInfo(base + '/PKG-INFO')
        data = package.metadata().encode('utf-8')
        pkg_info.size = len(data)
        pkg_info.mode = 0o644
        sdist.addfile(clean(pkg_info), BytesIO(data))
    return name

