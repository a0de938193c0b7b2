"""setuptools' build backend, run on a copy of this folder in a temporary directory:
setuptools writes build/ and *.egg-info next to the sources, and the source tree stays
as it is."""
import os
import shutil
import tempfile

from setuptools import build_meta as _setuptools

_IGNORE = shutil.ignore_patterns("build", "*.egg-info", "__pycache__", ".mypy_cache")


def _in_copy(hook, directory, *args, **kwargs):
    source = os.path.dirname(os.path.abspath(__file__))
    directory = os.path.abspath(directory)
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, "src")
        shutil.copytree(source, copy, ignore=_IGNORE)
        here = os.getcwd()
        os.chdir(copy)
        try:
            return hook(directory, *args, **kwargs)
        finally:
            os.chdir(here)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    return _in_copy(_setuptools.build_wheel, wheel_directory, config_settings, None)


def build_sdist(sdist_directory, config_settings=None):
    return _in_copy(_setuptools.build_sdist, sdist_directory, config_settings)


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    return _in_copy(_setuptools.prepare_metadata_for_build_wheel, metadata_directory,
                    config_settings)


get_requires_for_build_wheel = _setuptools.get_requires_for_build_wheel
get_requires_for_build_sdist = _setuptools.get_requires_for_build_sdist
