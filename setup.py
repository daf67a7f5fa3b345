"""Builds and installs the _dxt1 and _dxt1a modules and the dds2png command with
setuptools, for any interpreter that has it (Python 2.7, 3.6 to 3.11 here):

    python2.7 setup.py install           # or build_ext --inplace

The package itself is defined in packaging/dxt1-package.json. `pip install .`
uses the project's own build backend instead (see pyproject.toml).
"""
import os
import sys

from setuptools import Extension, setup
from setuptools.command.build_py import build_py

# Paths below are relative to this folder, wherever setup.py is run from.
os.chdir(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, 'packaging')
import dxt1_package as package  # noqa: E402

BUILD_BASE = os.path.join('build', 'setuptools')  # under build/, where `make clean` looks
if not os.path.isdir(BUILD_BASE):
    os.makedirs(BUILD_BASE)


class build_py_with_version(build_py):
    """Copies the scripts' modules with the package's version written in."""

    def build_module(self, module, module_file, package_name):
        built = build_py.build_module(self, module, module_file, package_name)
        with open(built[0], 'wb') as f:
            f.write(package.installed_script(module_file))
        return built


setup(
    name=package.NAME,
    version=package.VERSION,
    description=package.SUMMARY,
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
    package_dir={'': 'tools'},
    py_modules=[os.path.splitext(os.path.basename(path))[0] for path in package.SCRIPTS.values()],
    entry_points={'console_scripts': package.entry_points().splitlines()[1:]},
    cmdclass={'build_py': build_py_with_version},
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
