"""The package's one definition, dxt1-package.json, read for setup.py, the
build backend and the tests (the CMake build reads the same file)."""
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

with open(os.path.join(HERE, 'dxt1-package.json')) as _f:
    PACKAGE = json.load(_f)

NAME = str(PACKAGE['name'])
VERSION = str(PACKAGE['version'])
SUMMARY = str(PACKAGE['summary'])
LICENSE = str(PACKAGE['license'])
LICENSE_FILE = str(PACKAGE['license_file'])  # relative to the root
# The extension modules' names, in the package's order; each has its own
# sources and export maps, beside the decoder's.
MODULES = [str(module['name']) for module in PACKAGE['modules']]
_MODULE_DEFINITIONS = dict((str(module['name']), module) for module in PACKAGE['modules'])
# Console commands: name -> the Python file, relative to the root, that holds main().
SCRIPTS = dict((str(name), str(path)) for name, path in PACKAGE['scripts'].items())


def sources(module):
    """The C++ sources of the extension module named `module`, relative to the root."""
    return [str(path) for path in PACKAGE['decoder_sources'] + _MODULE_DEFINITIONS[module]['sources']]


def include_dirs():
    return [str(path) for path in PACKAGE['include_dirs']]


def export_map(module, major=None):
    """The linker version script of the extension module named `module` for a
    Python of this major version."""
    return str(_MODULE_DEFINITIONS[module]['export_maps'][str(major or sys.version_info[0])])


def compile_flags():
    """Flags every build of the module uses: optimisation, then the module's own."""
    return [str(flag) for flag in PACKAGE['optimisation_flags'] + PACKAGE['module_flags']]


def link_flags(module, root=''):
    """Link flags of the extension module named `module`: the modules' own,
    then its export map (under `root`)."""
    return ([str(flag) for flag in PACKAGE['module_link_flags']]
            + ['-Wl,--version-script=' + os.path.join(root, export_map(module))])


def metadata():
    """The METADATA (PKG-INFO) text of a wheel or an sdist."""
    return ('Metadata-Version: 2.1\nName: %s\nVersion: %s\nSummary: %s\nLicense: %s\n'
            % (NAME, VERSION, SUMMARY, LICENSE))


def entry_points():
    """entry_points.txt: one console command per script, running its main()."""
    lines = ['[console_scripts]']
    for name, path in sorted(SCRIPTS.items()):
        lines.append('%s = %s:main' % (name, os.path.splitext(os.path.basename(path))[0]))
    return '\n'.join(lines) + '\n'


# The line of a script that its installed copy gets the version in.
INSTALLED_VERSION_LINE = b'INSTALLED_VERSION = None\n'


def installed_script(path):
    """The bytes to install for the script at `path` (relative to the root):
    its text, with the package's version written into the line that holds it,
    so that the installed command knows the version without the tree."""
    with open(os.path.join(ROOT, path), 'rb') as f:
        text = f.read()
    stamped = ('INSTALLED_VERSION = %r\n' % VERSION).encode('ascii')
    return text.replace(INSTALLED_VERSION_LINE, stamped, 1)
