"""The package's one definition, dxt1-package.json, read for setup.py, the
build backend and the tests (the CMake build reads the same file)."""
import io
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
README = str(PACKAGE['readme'])  # relative to the root: the long description
REQUIRES_PYTHON = str(PACKAGE['requires_python'])
CLASSIFIERS = [str(line) for line in PACKAGE['classifiers']]
# Python packages: import name -> their folder, relative to the root. The
# `-stubs` ones hold the extension modules' type information, where type
# checkers look for it (a single-file module cannot be marked typed).
PACKAGES = dict((str(name), str(path)) for name, path in PACKAGE['packages'].items())
# The file, relative to the root, that the installed copy gets the version in.
VERSION_FILE = str(PACKAGE['version_file'])
# Commands: name -> the Python file, relative to the root, that each install
# puts on PATH under that name (a script, not an entry point, so that the
# file itself can take a Ctrl-C that comes while the package imports).
COMMANDS = dict((str(name), str(path)) for name, path in PACKAGE['commands'].items())
# The extension modules' names, in the package's order; each has its own
# sources and export maps, beside the decoder's.
MODULES = [str(module['name']) for module in PACKAGE['modules']]
_MODULE_DEFINITIONS = dict((str(module['name']), module) for module in PACKAGE['modules'])


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


def long_description():
    with io.open(os.path.join(ROOT, README), encoding='utf-8') as f:
        return f.read()


def metadata():
    """The METADATA (PKG-INFO) text of a wheel or an sdist, the README as its body."""
    headers = ['Metadata-Version: 2.1', 'Name: ' + NAME, 'Version: ' + VERSION, 'Summary: ' + SUMMARY,
               'License: ' + LICENSE, 'Requires-Python: ' + REQUIRES_PYTHON]
    headers += ['Classifier: ' + line for line in CLASSIFIERS]
    headers.append('Description-Content-Type: text/markdown')
    return '\n'.join(headers) + '\n\n' + long_description()


def entry_points():
    """entry_points.txt, for wheels: each command runs its file's run()
    (dds2png/__main__.py's), as a console command."""
    lines = ['[console_scripts]']
    for name in sorted(COMMANDS):
        lines.append('%s = dds2png.__main__:run' % name)
    return '\n'.join(lines) + '\n'


def command_script(name, lines=()):
    """The text of the script installed as the command `name`: a #!python
    line (which installers point at the interpreter), then `lines`, then the
    command's file."""
    with io.open(os.path.join(ROOT, COMMANDS[name]), encoding='utf-8') as f:
        body = f.read()
    return '#!python\n' + ''.join(line + '\n' for line in lines) + body


# The line of VERSION_FILE that its installed copy gets the version in.
INSTALLED_VERSION_LINE = b'INSTALLED_VERSION = None\n'


def installed_source(path):
    """The bytes to install for the Python file at `path` (relative to the
    root): its text, and in VERSION_FILE the package's version written into
    the line that holds it, so that the installed package knows the version
    without the tree."""
    with open(os.path.join(ROOT, path), 'rb') as f:
        text = f.read()
    if os.path.normpath(path) != os.path.normpath(VERSION_FILE):
        return text
    stamped = ('INSTALLED_VERSION = %r\n' % VERSION).encode('ascii')
    assert INSTALLED_VERSION_LINE in text, 'the version line is missing from ' + path
    return text.replace(INSTALLED_VERSION_LINE, stamped, 1)


# Files of a package that are installed: its code, its type information and
# the marker that says it has some.
PACKAGE_DATA = ['*.pyi', 'py.typed']


def package_files():
    """(name in site-packages, bytes) of every installed file of the packages."""
    files = []
    for name, folder in sorted(PACKAGES.items()):
        for entry in sorted(os.listdir(os.path.join(ROOT, folder))):
            if entry.endswith(('.py', '.pyi')) or entry == 'py.typed':
                files.append(('%s/%s' % (name, entry), installed_source(os.path.join(folder, entry))))
    return files
