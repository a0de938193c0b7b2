"""The package as users get it: an sdist that builds and installs offline with its
metadata, and a docstring on every public name."""
import ctypes
import inspect
import os
import re
import subprocess
import sys
from pathlib import Path

import qx4

SOURCE = Path(__file__).resolve().parents[2] / "python"


def test_sdist_builds_and_installs_with_its_metadata(tmp_path):
    backend = ("import sys, qx4_build_backend as b; "
               "print(b.build_sdist(sys.argv[1]))")
    quiet = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")  # nothing left in python/
    built = subprocess.run([sys.executable, "-c", backend, str(tmp_path)], cwd=SOURCE,
                           capture_output=True, text=True, check=True, env=quiet)
    sdist = tmp_path / built.stdout.strip().splitlines()[-1]
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)],
                   check=True)
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    subprocess.run([venv / "bin" / "pip", "install", "--quiet", "--no-index",
                    "--no-build-isolation", str(sdist)], check=True, env=env, cwd=tmp_path)
    check = ("import importlib.metadata as m, qx4; "
             "print(m.version('qx4'), qx4.__version__, qx4.__file__)")
    out = subprocess.run([venv / "bin" / "python", "-c", check], capture_output=True,
                         text=True, check=True, env=env, cwd=tmp_path).stdout.split()
    assert out[0] == out[1] == qx4.__version__
    assert out[2].startswith(str(venv))


def test_every_public_name_has_a_docstring():
    missing = []
    for name in qx4.__all__:
        thing = getattr(qx4, name)
        if inspect.isclass(thing) or inspect.isfunction(thing):
            if not inspect.getdoc(thing):
                missing.append(name)
            for member, value in vars(thing).items() if inspect.isclass(thing) else ():
                documented = inspect.isfunction(value) or isinstance(value, property)
                if documented and not member.startswith("_") and not inspect.getdoc(value):
                    missing.append(f"{name}.{member}")
    assert missing == []


def test_results_are_read_at_the_width_the_library_declares():
    # Only the low byte of an unsigned char result is defined: read as an int, a failure's
    # 0 with stray upper bits would pass for success.
    header = (SOURCE.parent / "driver" / "qx4drv.h").read_text(encoding="utf-8")
    declared = {name: kind for kind, name in
                re.findall(r"QX4_API (unsigned char|int) (QX4\w+)\(", header)}
    source = (SOURCE / "qx4" / "reader.py").read_text(encoding="utf-8")
    used = {a or b for a, b in re.findall(r'"(QX4\w+)"|_lib\.(QX4\w+)', source)}
    width = {"unsigned char": ctypes.c_ubyte, "int": ctypes.c_int}
    library = qx4._library.driver()
    wrong = [name for name in sorted(used & declared.keys())
             if getattr(library, name).restype is not width[declared[name]]]
    assert wrong == [] and len(used & declared.keys()) > 40
