"""A simulated reader for tests of your own scripts: ``qx4sim`` in a subprocess."""

from __future__ import annotations

import os
import shutil
import subprocess
from pathlib import Path
from types import TracebackType


def _program() -> str:
    if os.environ.get("QX4SIM"):
        return os.environ["QX4SIM"]
    found = shutil.which("qx4sim")
    if found:
        return found
    build = Path(__file__).resolve().parents[2] / "build" / "sim" / "qx4sim"
    if build.exists():
        return str(build)
    raise FileNotFoundError("qx4sim not found: set QX4SIM, or put it on PATH")


class Simulator:
    """``qx4sim`` with ``field`` (a dump file of any format) and replies paced at ``baud``
    (9600 or 19200; None: at once). ``device`` is what :class:`qx4.Reader` takes."""

    def __init__(self, field: str | Path | None = None, baud: int | None = None,
                 *extra: str) -> None:
        args = [_program()]
        if field is not None:
            args += ["--field", str(field)]
        if baud is not None:
            args += ["--baud", str(baud)]
        args += list(extra)
        self._process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE, text=True)
        assert self._process.stdout is not None
        first = self._process.stdout.readline()
        second = self._process.stdout.readline()
        if "=" not in second:
            error = self._process.stderr.read() if self._process.stderr else ""
            self._process.wait()
            raise RuntimeError(f"qx4sim did not start: {first}{second}{error}".strip())
        self.device = second.split("=", 1)[1].strip()

    def command(self, line: str) -> str:
        """A line for qx4sim's prompt ("list", "leave UID", "enter UID", "save FILE")."""
        assert self._process.stdin is not None and self._process.stdout is not None
        self._process.stdin.write(line + "\n")
        self._process.stdin.flush()
        return self._process.stdout.readline().strip()

    def stop(self) -> None:
        """Ends qx4sim."""
        if self._process.poll() is None:
            self._process.terminate()
            self._process.wait(timeout=10)
        for stream in (self._process.stdin, self._process.stdout, self._process.stderr):
            if stream:
                stream.close()

    def __enter__(self) -> "Simulator":
        return self

    def __exit__(self, kind: type[BaseException] | None, value: BaseException | None,
                 trace: TracebackType | None) -> None:
        self.stop()
