"""A build backend of the project's own, so that `pip install .` works with
nothing but a C++ compiler and the interpreter's headers: no setuptools or
wheel package needs to be installed or fetched.

It compiles lib/*.cpp into the _dxt1 extension for the running interpreter
and packs it into a wheel. `setup.py` remains for `setup.py build_ext`.
"""
import base64
import glob
import hashlib
import os
import shlex
import subprocess
import sys
import sysconfig
import tempfile
import zipfile

NAME = 'dxt1'
VERSION = '1.0.0'
SUMMARY = 'Decodes DXT1 (BC1) texture blocks into RGB row planes'
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def _tag():
    version = '%d%d' % sys.version_info[:2]
    if sys.version_info[0] >= 3:
        abi = 'cp' + version + sys.abiflags
    else:
        abi = 'cp' + version + 'm' + ('u' if sys.maxunicode > 0xffff else '')
    platform = sysconfig.get_platform().replace('-', '_').replace('.', '_')
    return 'cp%s-%s-%s' % (version, abi, platform)


def _compile(build_dir):
    compiler = shlex.split(os.environ.get('CXX') or 'c++')
    suffix = sysconfig.get_config_var('EXT_SUFFIX') or sysconfig.get_config_var('SO')
    target = os.path.join(build_dir, '_dxt1' + suffix)
    sources = sorted(glob.glob(os.path.join(ROOT, 'lib', '*.cpp'))) + [os.path.join(ROOT, 'module', 'dxt1-module.cpp')]
    version_script = os.path.join(ROOT, 'module', 'exports-python%d.map' % sys.version_info[0])
    command = compiler + ['-O2', '-std=c++14', '-fPIC', '-shared', '-fvisibility=hidden',
                          '-I' + sysconfig.get_paths()['include'], '-I' + os.path.join(ROOT, 'lib'),
                          '-Wl,--version-script=' + version_script, '-o', target] + sources
    subprocess.check_call(command)
    return target


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b'=').decode('ascii')
    return '%s,sha256=%s,%d' % (name, digest, len(data))


def get_requires_for_build_wheel(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    tag = _tag()
    dist_info = '%s-%s.dist-info' % (NAME, VERSION)
    build_dir = tempfile.mkdtemp()
    module = _compile(build_dir)
    with open(module, 'rb') as f:
        module_bytes = f.read()
    files = [
        (os.path.basename(module), module_bytes),
        (dist_info + '/METADATA', ('Metadata-Version: 2.1\nName: %s\nVersion: %s\nSummary: %s\n'
                                   % (NAME, VERSION, SUMMARY)).encode('ascii')),
        (dist_info + '/WHEEL', ('Wheel-Version: 1.0\nGenerator: dxt1_build\nRoot-Is-Purelib: false\nTag: %s\n'
                                % tag).encode('ascii')),
    ]
    record = '\n'.join([_record_line(name, data) for name, data in files] + [dist_info + '/RECORD,,', ''])
    wheel_name = '%s-%s-%s.whl' % (NAME, VERSION, tag)
    with zipfile.ZipFile(os.path.join(wheel_directory, wheel_name), 'w', zipfile.ZIP_DEFLATED) as wheel:
        for name, data in files:
            wheel.writestr(name, data)
        wheel.writestr(dist_info + '/RECORD', record)
    os.remove(module)
    os.rmdir(build_dir)
    return wheel_name
