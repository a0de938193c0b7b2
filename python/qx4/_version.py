"""The one version of QX4: CMake, the Debian packages and the Python package read it."""

__version__ = "1.0.0"
