"""Builds the _dxt1 extension module with setuptools:

    python2.7 setup.py build_ext --inplace     (or python3.x)
    pip2 install .                            (or pip3 install .)
"""
import sys

from setuptools import Extension, setup

setup(
    name='dxt1',
    version='1.0.0',
    description='Decodes DXT1 (BC1) texture blocks into RGB row planes',
    ext_modules=[
        Extension(
            '_dxt1',
            sources=['lib/dxt1-module.cpp', 'lib/dxt1-decoder.cpp', 'lib/dxt1-decoder-plain.cpp',
                     'lib/dxt1-decoder-ssse3.cpp', 'lib/dxt1-decoder-avx2.cpp', 'lib/dxt1-decoder-avx512.cpp'],
            include_dirs=['lib'],
            language='c++',
            extra_compile_args=['-std=c++14', '-fvisibility=hidden'],
            extra_link_args=['-Wl,--version-script=lib/exports-python%d.map' % sys.version_info[0]],
        ),
    ],
)
