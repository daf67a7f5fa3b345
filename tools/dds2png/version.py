"""The package's version. The build writes it into the copy it installs;
run from the source tree, it is read from the package definition."""
import json
import os

INSTALLED_VERSION = None
PACKAGE_DEFINITION = os.path.join('..', '..', 'packaging', 'dxt1-package.json')  # from this file's folder


def package_version():
    """The installed package's version, or the one the source tree defines."""
    if INSTALLED_VERSION:
        return INSTALLED_VERSION
    try:
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), PACKAGE_DEFINITION)) as f:
            return str(json.load(f)['version'])
    except (EnvironmentError, ValueError, KeyError):
        return 'unknown (neither installed nor in its source tree)'


__version__ = package_version()
