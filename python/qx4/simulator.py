"""A simulated reader for tests of your own scripts: ``qx4sim`` in a subprocess.

::

    with qx4.Simulator(field="tag.nfc") as sim, qx4.Reader(sim.device) as reader:
        ...
"""

from __future__ import annotations

import contextlib
import itertools
import os
import queue
import shutil
import subprocess
import threading
import weakref
from collections import deque
from collections.abc import Sequence
from pathlib import Path
from types import TracebackType
from typing import IO


def _program() -> str:
    if os.environ.get("QX4SIM"):
        return os.environ["QX4SIM"]
    found = shutil.which("qx4sim")
    if found:
        return found
    build = Path(__file__).resolve().parents[2] / "build" / "sim" / "qx4sim"
    if build.exists():
        return str(build)
    raise FileNotFoundError(
        "qx4sim not found: install the qx4-tools package, set QX4SIM, or put it on PATH")


def _end(process: subprocess.Popen[str], grace: float) -> None:
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class SimulatorError(RuntimeError):
    """qx4sim did not start, did not answer a command in time, or has ended."""


class Simulator:
    """``qx4sim`` in a subprocess; ``device`` is what :class:`qx4.Reader` takes.

    Options, all keyword-only: ``field`` a dump file of any format for the tags in the
    field; ``baud`` paces replies as a serial line would (9600 or 19200; None: at
    once); ``delay`` answers that many seconds late; ``log`` records every frame (see
    :attr:`frames`); ``scan_period`` seconds between auto-scan notifications;
    ``eeprom`` a file that keeps the EEPROM; ``profile`` ``"default"`` or ``"field"`` (a
    plausible real reader and field: air time, collisions, lost replies, a USB-serial
    adapter; None: ``QX4SIM_PROFILE`` decides); ``seed`` for the field's chances;
    ``extra`` more qx4sim options;
    ``program`` the qx4sim to run (default: ``QX4SIM``, then ``PATH``).
    ``start_timeout`` seconds for qx4sim to come up; :meth:`stop` waits ``grace``
    seconds for it to end before killing it.

    Its output is read all the time on threads of its own, so a long ``log`` run never
    blocks it.
    """

    def __init__(self, *, field: str | os.PathLike[str] | None = None, baud: int | None = None,
                 delay: float | None = None, log: bool = False,
                 scan_period: float | None = None, eeprom: str | os.PathLike[str] | None = None,
                 profile: str | None = None, seed: int | None = None,
                 extra: Sequence[str] = (), program: str | None = None,
                 start_timeout: float = 10.0, grace: float = 5.0) -> None:
        args = [program or _program()]
        if field is not None:
            args += ["--field", os.fspath(field)]
        if baud is not None:
            args += ["--baud", str(baud)]
        if delay is not None:
            args += ["--delay", str(round(delay * 1000))]
        if log:
            args.append("--log")
        if scan_period is not None:
            args += ["--scan-period", str(round(scan_period * 1000))]
        if eeprom is not None:
            args += ["--eeprom", os.fspath(eeprom)]
        if profile is not None:
            args += ["--profile", profile]
        if seed is not None:
            args += ["--seed", str(seed)]
        args += list(extra)
        self.grace = grace
        self.device = ""
        self._frames: deque[str] = deque(maxlen=100_000)
        self._errors: deque[str] = deque(maxlen=1000)
        self._lines: queue.Queue[str | None] = queue.Queue()
        self._command_lock = threading.Lock()
        self._markers = itertools.count(1)
        self._process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE, text=True, bufsize=1)
        # A script that never calls stop() leaves no qx4sim running after it.
        self._ending = weakref.finalize(self, _end, self._process, grace)
        assert self._process.stdout is not None and self._process.stderr is not None
        self._readers = [
            threading.Thread(target=self._read_output, args=(self._process.stdout,), daemon=True),
            threading.Thread(target=self._read_errors, args=(self._process.stderr,), daemon=True)]
        for thread in self._readers:
            thread.start()
        try:
            first = self._next_line(start_timeout, "start")
            if not first.startswith("simulated reader on "):
                raise SimulatorError(f"qx4sim did not start: {first}")
            self.device = first.removeprefix("simulated reader on ").strip()
            self._next_line(start_timeout, "start")  # the export line
        except SimulatorError:
            self.stop()
            raise

    def _read_output(self, stream: IO[str]) -> None:
        for line in stream:
            line = line.rstrip("\n")
            if line.startswith(("<- ", "-> ")):
                self._frames.append(line)
            else:
                self._lines.put(line)
        self._lines.put(None)

    def _read_errors(self, stream: IO[str]) -> None:
        for line in stream:
            self._errors.append(line.rstrip("\n"))

    def _next_line(self, timeout: float, what: str) -> str:
        try:
            line = self._lines.get(timeout=timeout)
        except queue.Empty:
            raise SimulatorError(f"qx4sim gave no answer to {what} within {timeout:g} s"
                                 ) from None
        if line is None:
            self._lines.put(None)  # it stays ended for later calls
            self._process.wait()
            self._readers[1].join(timeout=1)
            raise SimulatorError(f"qx4sim has ended (exit {self._process.returncode}): "
                                 + " ".join(self._errors))
        return line

    def command(self, line: str, timeout: float = 10.0) -> str:
        """A line for qx4sim's prompt ("list", "leave UID", "enter UID", "save FILE");
        returns its whole reply (lines joined by newlines)."""
        if "\n" in line or "\r" in line:
            raise ValueError("one command, without line breaks")
        assert self._process.stdin is not None
        with self._command_lock:
            # qx4sim answers an unknown word with one line: it marks where a reply ends.
            marker = f"#end-{next(self._markers)}"
            try:
                self._process.stdin.write(f"{line}\n{marker}\n")
                self._process.stdin.flush()
            except (BrokenPipeError, ValueError):
                raise SimulatorError("qx4sim has ended") from None
            reply = []
            while not (answer := self._next_line(timeout, line)).startswith(
                    f"unknown command {marker} "):
                reply.append(answer)
            return "\n".join(reply)

    @property
    def frames(self) -> list[str]:
        """The frames logged so far with ``log=True`` ("<- 02 00 ..." received by the
        reader, "-> ..." sent by it), the latest 100000."""
        return list(self._frames)

    @property
    def errors(self) -> str:
        """What qx4sim wrote to standard error."""
        return "\n".join(self._errors)

    def stop(self) -> None:
        """Ends qx4sim: asks it to stop, and kills it after ``grace`` seconds. A
        Simulator never stopped is stopped when the program ends."""
        _end(self._process, self.grace)
        self._ending.detach()
        for thread in self._readers:
            thread.join(timeout=self.grace)
        for stream in (self._process.stdin, self._process.stdout, self._process.stderr):
            if stream:
                with contextlib.suppress(OSError):  # stdin of a process that has ended
                    stream.close()

    def __enter__(self) -> Simulator:
        return self

    def __exit__(self, kind: type[BaseException] | None, value: BaseException | None,
                 trace: TracebackType | None) -> None:
        self.stop()
