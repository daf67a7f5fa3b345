"""Builds the _dxt1 extension module with setuptools, for any interpreter
that has setuptools:

    python2.7 setup.py build_ext --inplace     # or python3.x
    python2.7 setup.py install

`pip install .` uses the project's own build backend instead (see
pyproject.toml), which needs neither setuptools nor wheel.
"""
import glob
import sys

from setuptools import Extension, setup

setup(
    name='dxt1',
    version='1.0.0',
    description='Decodes DXT1 (BC1) texture blocks into RGB row planes',
    ext_modules=[
        Extension(
            '_dxt1',
            sources=sorted(glob.glob('lib/*.cpp')) + ['module/dxt1-module.cpp'],
            include_dirs=['lib'],
            language='c++',
            extra_compile_args=['-std=c++14', '-fvisibility=hidden'],
            extra_link_args=['-Wl,--version-script=module/exports-python%d.map' % sys.version_info[0]],
        ),
    ],
)
