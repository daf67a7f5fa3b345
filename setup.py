"""Builds and installs the _dxt1 and _dxt1a modules and the dds2png command with
setuptools, for any interpreter that has it (Python 2.7, 3.6 to 3.11 here):

    python2.7 setup.py install           # or build_ext --inplace

The package itself is defined in packaging/dxt1-package.json. `pip install .`
uses the project's own build backend instead (see pyproject.toml).
"""
import os
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.build_py import build_py
from setuptools.command.install import install

# Paths below are relative to this folder, wherever setup.py is run from.
os.chdir(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, 'packaging')
import dxt1_package as package  # noqa: E402

BUILD_BASE = os.path.join('build', 'setuptools')  # under build/, where `make clean` looks
if not os.path.isdir(BUILD_BASE):
    os.makedirs(BUILD_BASE)


class build_py_with_version(build_py):
    """Copies the packages' modules, the package's version written in."""

    def build_module(self, module, module_file, package_name):
        built = build_py.build_module(self, module, module_file, package_name)
        with open(built[0], 'wb') as f:
            f.write(package.installed_source(module_file))
        return built


class build_ext_cxx(build_ext):
    """Compiles without the C-only flags the interpreter's configuration
    hands every extension (g++ warns that -Wstrict-prototypes is not for C++)."""

    def build_extensions(self):
        compiler_so = getattr(self.compiler, 'compiler_so', None)
        if compiler_so and '-Wstrict-prototypes' in compiler_so:
            compiler_so.remove('-Wstrict-prototypes')
        build_ext.build_extensions(self)


class install_with_commands(install):
    """Installs each command as a script that finds the package where this
    install put it, so that it runs from any --prefix without PYTHONPATH
    (setuptools' own scripts ask pkg_resources, which looks on sys.path alone)."""

    def run(self):
        self.commands_written = []  # first, so that install's record lists them
        if not os.path.isdir(self.install_scripts):
            os.makedirs(self.install_scripts)
        for name in sorted(package.COMMANDS):
            path = os.path.join(self.install_scripts, name)
            script = package.command_script(name, ['import sys', 'sys.path.insert(0, %r)  # where setup.py installed it'
                                                   % os.path.abspath(self.install_lib)])
            with open(path, 'wb') as f:
                f.write(('#!%s\n' % sys.executable + script.split('\n', 1)[1]).encode('utf-8'))
            os.chmod(path, 0o755)
            self.commands_written.append(path)
        install.run(self)
        # Every file this install wrote, listed where pip looks for them, so
        # that `pip uninstall dxt1` removes the modules and the command too.
        egg_info = self.get_finalized_command('install_egg_info').target
        with open(os.path.join(egg_info, 'installed-files.txt'), 'w') as f:
            f.write(''.join(os.path.relpath(path, egg_info) + '\n' for path in sorted(set(self.get_outputs()))))

    def get_outputs(self):
        return install.get_outputs(self) + getattr(self, 'commands_written', [])


setup(
    name=package.NAME,
    version=package.VERSION,
    description=package.SUMMARY,
    long_description=package.long_description(),
    long_description_content_type='text/markdown',
    python_requires=package.REQUIRES_PYTHON,
    classifiers=package.CLASSIFIERS,
    license=package.LICENSE,
    ext_modules=[
        Extension(
            module,
            sources=package.sources(module),
            include_dirs=package.include_dirs(),
            language='c++',
            extra_compile_args=package.compile_flags(),
            extra_link_args=package.link_flags(module),
        )
        for module in package.MODULES
    ],
    packages=sorted(package.PACKAGES),
    # The converter's folder is the root of the Python files: build_ext
    # --inplace puts the modules there too, beside it.
    package_dir=dict(package.PACKAGES, **{'': os.path.dirname(package.PACKAGES['dds2png'])}),
    package_data=dict((name, package.PACKAGE_DATA) for name in package.PACKAGES),
    cmdclass={'build_py': build_py_with_version, 'build_ext': build_ext_cxx, 'install': install_with_commands},
    zip_safe=False,  # an extension module must be a file on disk to load
    options={
        'build': {'build_base': BUILD_BASE},
        'egg_info': {'egg_base': BUILD_BASE},
        'bdist_egg': {'dist_dir': os.path.join(BUILD_BASE, 'dist')},
        # `install` puts the files themselves into site-packages, as pip does,
        # rather than an egg that only a .pth file makes importable.
        'install': {'single_version_externally_managed': True,
                    'record': os.path.join(BUILD_BASE, 'installed-files.txt')},
    },
)
