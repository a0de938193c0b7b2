"""The reader: one open per process, as the library has one context per process."""

from __future__ import annotations

import contextlib
import ctypes
import errno
import functools
import operator
import os
import re
import signal
import threading
import time
import weakref
from collections import deque
from collections.abc import Callable, Iterator
from types import TracebackType
from typing import Any, Concatenate, ParamSpec, TypeVar

from . import _library as L
from ._wakeup import WAKEUP
from .errors import (BadReplyError, BusyError, DumpError, FenceRefusedError, NackError,
                     NdefError, NoAnswerError, OpenError, OutOfStepError, QX4Error,
                     ReaderGoneError, SeveralTagsError, TagLeftError)
from .types import Block, Geometry, Notification, RestoreReport, SystemInfo, Tag
from . import ndef as _ndef

UidLike = bytes | bytearray | str
PortLike = str | os.PathLike[str] | int

_ADDRESSED = 0x01
_OPTION = 0x10
_ONE_SLOT = 0x40
_NO_TAG = 4  # the reader's NACK when no tag answered
_LOST = (1, 2, 3)  # NACKs of a reply lost on the air: CRC error, time-over, receive error
_RF_RETRIES = 3  # times a frame whose reply was lost is sent again
_DEFAULT_PORT = 3
# A device given by name is opened by that name (QX4DllOpenDevice): the process
# environment is neither read nor changed for it.
_NAMED_PORT = 0
_LAST_BLOCK = 255  # a request carries block numbers and counts in one byte

# libQX4DRV's failure causes (QX4GetFailureCause).
(_TIMEOUT, _NACK, _BUSY, _NO_PORT, _BAD_ARGUMENT, _BAD_REPLY, _OUT_OF_STEP,
 _FENCE_REFUSED) = range(1, 9)

# Guards which Reader has the library's one context, and the environment while a
# device name is handed to the library's open.
_process_lock = threading.RLock()
_open_reader: weakref.ref[Reader] | None = None  # weak: a dropped Reader closes itself
_forked_open = False  # this process was forked from one with a Reader open

P = ParamSpec("P")
R = TypeVar("R")


_ISO_UID_TOP = 0xE0  # the most significant byte of every ISO 15693 UID


def parse_uid(uid: UidLike) -> bytes:
    """8 bytes in reply order, from those bytes or from the text ``qx4`` shows
    (16 hex digits, most significant first, ':' or ' ' between bytes). A UID in the
    other order (E0 where the least significant byte belongs) is refused with a hint."""
    if isinstance(uid, (bytes, bytearray)):
        if len(uid) != 8:
            raise ValueError(f"a UID has 8 bytes, not {len(uid)}")
        if uid[0] == _ISO_UID_TOP and uid[7] != _ISO_UID_TOP:
            raise ValueError(
                f"UID bytes {bytes(uid).hex().upper()} are most significant first; give them "
                f"in reply order (uid[::-1]) or as the text {bytes(uid).hex().upper()!r}")
        return bytes(uid)
    if not isinstance(uid, str):
        raise TypeError(f"a UID is bytes or a hex str, not {type(uid).__name__}")
    digits = uid.replace(":", "").replace(" ", "")
    if len(digits) != 16 or any(c not in "0123456789abcdefABCDEF" for c in digits):
        raise ValueError(f"a UID is 16 hex digits, not {uid!r}")
    value = bytes.fromhex(digits)
    if value[7] == _ISO_UID_TOP and value[0] != _ISO_UID_TOP:
        raise ValueError(f"UID {uid!r} is in reply order; as text it is written most "
                         f"significant byte first: {value[::-1].hex().upper()!r}")
    return value[::-1]


def _integer(value: object, what: str, low: int = 0, high: int = 255) -> int:
    if isinstance(value, bool):
        raise TypeError(f"{what} must be an int, not bool")
    try:
        number = operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{what} must be an int, not {type(value).__name__}") from None
    if not low <= number <= high:
        raise ValueError(f"{what} must be {low} to {high}, not {number}")
    return number


def _byte(value: object, what: str) -> int:
    return _integer(value, what, 0, 255)


def _block(value: object, what: str = "block") -> int:
    number = _integer(value, what, -(1 << 62), 1 << 62)
    if not 0 <= number <= _LAST_BLOCK:
        raise ValueError(f"{what} {number} is not 0 to {_LAST_BLOCK}: a request carries the "
                         "block number in one byte")
    return number


def _data(value: object, what: str = "data") -> bytes:
    if not isinstance(value, (bytes, bytearray, memoryview)):
        raise TypeError(f"{what} must be bytes, not {type(value).__name__}")
    return bytes(value)


def _seconds(value: object, what: str, most: float = float("inf")) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"{what} is in seconds (int or float), not {type(value).__name__}")
    if not 0 <= value <= most:
        raise ValueError(f"{what} must be 0 to {most:g} seconds, not {value}")
    return float(value)


_LONGEST_WAIT = 60.0  # the library's longest response time-out, in seconds


def _answer_wait(timeout: object) -> float:
    """Seconds to wait for each answer; None, as in pyserial, waits as long as the
    library can (60 s)."""
    return _LONGEST_WAIT if timeout is None else _seconds(timeout, "timeout", _LONGEST_WAIT)


def _port(port: PortLike | None) -> tuple[int, str | None]:
    """The COM number to open and the device name it stands for (None: the library's
    own name for that number)."""
    if port is None:
        return _DEFAULT_PORT, None
    if isinstance(port, int) and not isinstance(port, bool):
        return _integer(port, "the COM number", 1, 255), None
    if not isinstance(port, (str, os.PathLike)):
        raise TypeError("port is a device path, an rfc2217:// or tcp:// URL, or a COM "
                        f"number, not {type(port).__name__}")
    name = os.fspath(port)
    if not isinstance(name, str) or not name:
        raise ValueError(f"port {port!r} names no device")
    com = re.fullmatch(r"(?i)com(\d+):?", name)
    if com:
        return _integer(int(com.group(1)), "the COM number", 1, 255), None
    return _NAMED_PORT, name


def _one_at_a_time(
        method: Callable[Concatenate[Reader, P], R]) -> Callable[Concatenate[Reader, P], R]:
    """A command of a Reader waits for any other of the same Reader to finish."""

    @functools.wraps(method)
    def run(self: Reader, /, *args: P.args, **kwargs: P.kwargs) -> R:
        with self._lock:
            return method(self, *args, **kwargs)

    return run


class _FrameBoundary:
    """Holds Ctrl+C back while a frame is in flight, so that a command of many frames
    stops between two of them knowing exactly what it did. Only Python's own SIGINT
    handler on the main thread is held back; a program's own handler stays as it is.
    ``interrupt``: also called on Ctrl+C, to stop a library call of many frames."""

    def __init__(self, interrupt: Callable[[], None] | None = None) -> None:
        self.pending = False
        self._before: Any = None
        self._interrupt = interrupt

    def __enter__(self) -> _FrameBoundary:
        if (threading.current_thread() is threading.main_thread()
                and signal.getsignal(signal.SIGINT) is signal.default_int_handler):
            self._before = signal.signal(signal.SIGINT, self._hold)
        return self

    def _hold(self, _number: int, _frame: Any) -> None:
        self.pending = True
        if self._interrupt is not None:
            self._interrupt()

    def run(self, call: Callable[[], R]) -> R:
        """``call`` in a thread of its own while this one waits: Python runs its signal
        handlers only between bytecodes, never inside a library call, so Ctrl+C reaches
        ``interrupt`` only while this thread waits."""
        if self._before is None:
            return call()
        outcome: list[Any] = []

        def work() -> None:
            try:
                outcome.append((True, call()))
            except BaseException as error:  # handed to the caller's thread
                outcome.append((False, error))

        worker = threading.Thread(target=work, name="qx4-dump")
        worker.start()
        while worker.is_alive():
            worker.join(0.05)
        done, value = outcome[0]
        if not done:
            raise value
        return value  # type: ignore[no-any-return]

    def cross(self) -> None:
        """Raises the KeyboardInterrupt held back while the last frame was in flight."""
        if self.pending:
            self.pending = False
            raise KeyboardInterrupt

    def __exit__(self, kind: type[BaseException] | None, value: BaseException | None,
                 trace: TracebackType | None) -> None:
        if self._before is not None:
            signal.signal(signal.SIGINT, self._before)
            self._before = None
        self.cross()


class Reader:
    """The QX4 reader on a serial line, opened at once when a port is given::

        with qx4.Reader("/dev/ttyUSB0") as reader:      # or "rfc2217://host:2000",
            tag = reader.inventory()                     # "tcp://host:4001", 3 for COM3
            blocks = reader.read_blocks(0, 4, uid=tag.uid)

    ``port``: a device path, ``rfc2217://HOST:PORT``, ``tcp://HOST:PORT``, or a COM
    number (``QX4_COM<n>`` or the library's own name for it); without it the Reader
    opens COM3 on :meth:`open` or ``with``. ``baudrate``: 19200 or 9600 (used at
    open). ``timeout``:
    seconds to wait for each answer (``None``: as long as the library waits, 60 s).
    ``device`` is another name for ``port``. A
    device given by name is opened by that name (``QX4DllOpenDevice``): the process
    environment is neither read nor changed for it.

    :meth:`open` on a Reader whose port was lost (unplugged, disconnected) opens it
    again; :meth:`reopen` does so whatever the port's state.

    Opening sends the library's fence (``QX4Resync``), so a late answer meant for an
    earlier program is never taken for one of ours. When the reader does not answer it
    (or refuses it, as some readers do while they scan), the Reader opens all the same:
    every command checks the step again first and raises :class:`OutOfStepError` (or
    :class:`FenceRefusedError`) while it fails, but :meth:`set_operation_mode` goes
    out, so a reader can always be taken out of auto-scan. One Reader is open per
    process (the library has one context).

    Failures raise one exception each (all :class:`qx4.QX4Error`): :class:`NackError`
    (the reader refused; ``code``, ``detail``, ``text``), :class:`NoAnswerError`,
    :class:`BadReplyError`, :class:`ReaderGoneError`, :class:`BusyError`,
    :class:`OutOfStepError`, :class:`SeveralTagsError` and :class:`DumpError`.
    Arguments of the wrong type raise ``TypeError``, out of range ``ValueError``, both
    before anything is sent. Multi-block writes that fail part way say how many blocks
    they wrote in the exception's ``blocks_written``.

    Threads: every method may be called from any thread. The methods of one Reader run
    one at a time (an internal lock): a second thread waits until the first one's
    command, with all its frames, is done. :class:`BusyError` means code outside this
    Reader used the library at the same moment. A child process forked while a Reader
    is open can neither use it nor open another (the port is the parent's).

    Tags: ``uid`` arguments take 8 bytes in reply order or the 16 hex digits ``qx4``
    shows. Reads without ``uid`` address the tag that answers an inventory; writes and
    locks without ``uid`` address the only tag in the field and refuse with
    :class:`SeveralTagsError` when there are several. A tag's block size and count are
    learnt from its system information once and reused (``block_size=`` overrides).

    A real field loses replies: a block read or write whose reply was lost on the air
    (NACK 1 to 3) is sent again up to three times, one no tag answered once more; each
    is logged (logger ``qx4``) and counted in :attr:`retries`. A tag that refuses
    multi-block commands is read and written in single blocks (or shorter runs), and
    one that leaves part way raises :class:`TagLeftError`, which says how far it came.
    """

    def __init__(self, port: PortLike | None = None, *, baudrate: int = 19200,
                 timeout: float | None = 2.0, device: PortLike | None = None) -> None:
        if device is not None:
            if port is not None:
                raise TypeError("give port or device, not both")
            port = device
        _port(port)  # wrong types and names fail here, not at open
        if baudrate not in (9600, 19200):
            raise ValueError(f"baudrate is 19200 or 9600, not {baudrate!r}")
        self._port_given = port
        self.baudrate = baudrate
        self._timeout = _answer_wait(timeout)
        self._lib = L.driver()
        self._lock = threading.RLock()
        self._dispatch = _Dispatch()
        self._open = False
        self._tags: dict[bytes, Geometry] = {}
        self._runs: dict[tuple[bytes, str], int] = {}  # longest run a tag took, by command
        self.retries = 0  # frames sent again after a lost reply or no answer, since created
        if port is not None:
            self.open()

    # -- lifecycle ------------------------------------------------------------------

    @property
    def port(self) -> PortLike | None:
        """The port as given (None: COM3)."""
        return self._port_given

    @property
    def timeout(self) -> float:
        """Seconds each command waits for the reader's answer; may be set while open."""
        return self._timeout

    @timeout.setter
    def timeout(self, seconds: float | None) -> None:
        with self._lock:
            self._timeout = _answer_wait(seconds)
            if self._open:
                self._lib.QX4SetCmdWaitTime(self._timeout_ms)

    @property
    def _timeout_ms(self) -> int:
        return round(self._timeout * 1000)

    @property
    def is_open(self) -> bool:
        """This Reader has the port open (it may have hung up since: :attr:`is_ok`)."""
        return self._open

    def open(self) -> Reader:
        """Opens the port and brings the link in step. Raises :class:`OpenError` (an
        ``OSError`` with ``errno``) when the port cannot be opened, ``RuntimeError`` while another Reader of this
        process is open or this process was forked from one with a Reader open."""
        global _open_reader
        with self._lock, _process_lock:
            if self._open:
                if self.is_ok:
                    return self
                self.close()  # lost: opened again below, as a new port
            if _open_reader is not None and _open_reader() is not None:
                raise RuntimeError("another qx4.Reader is open in this process: the library "
                                   "has one context per process; close it first")
            if _forked_open:
                raise RuntimeError("this process was forked while a qx4.Reader was open: the "
                                   "library's context belongs to the parent; open Readers "
                                   "before forking only in the parent, or start children "
                                   "with the 'spawn' method")
            number, device = _port(self._port_given)
            slow = 1 if self.baudrate == 9600 else 0
            if device is None:
                opened = self._lib.QX4DllOpen(number, slow)
            else:
                opened = self._lib.QX4DllOpenDevice(os.fsencode(device), slow)
            if not opened:
                reason = ctypes.create_string_buffer(256)
                code = self._lib.QX4GetOpenError(reason, len(reason))
                self._lib.QX4DllClose()
                named = os.environ.get(f"QX4_COM{number}")
                where = device or (f"COM{number} ({named})" if named else f"COM{number}")
                raise _open_error(where, code, reason.value.decode("utf-8", "replace"))
            self._lib.QX4SetCmdWaitTime(self._timeout_ms)
            self._open = True
            _open_reader = weakref.ref(self)
            try:
                # A failed link check leaves the link in doubt: the next command checks
                # again, and the mode write goes out regardless.
                if (not self._lib.QX4Resync()
                        and self._lib.QX4GetFailureCause() not in (_OUT_OF_STEP,
                                                                   _FENCE_REFUSED)):
                    raise self._failure("QX4Resync")
            except BaseException:
                self.close()
                raise
        return self

    def reopen(self) -> Reader:
        """Closes the port and opens it again (a reader that came back after it was
        unplugged, say); raises as :meth:`open` does."""
        with self._lock, _process_lock:
            self.close()
            return self.open()

    def close(self) -> None:
        """Closes the port and the library's context; closing twice does nothing."""
        global _open_reader
        with self._lock, _process_lock:
            if self._open:
                self._lib.QX4SetReceivedHook(None, None)
                self._lib.QX4SetHandle(None)
                self._dispatch.clear()
                self._lib.QX4DllClose()
                self._open = False
                self._tags.clear()
                self._runs.clear()
                _open_reader = None

    def __del__(self) -> None:
        # A Reader dropped without close() gives the port back, as a file object does.
        with contextlib.suppress(Exception):
            self.close()

    def __enter__(self) -> Reader:
        return self.open()

    def __exit__(self, kind: type[BaseException] | None, value: BaseException | None,
                 trace: TracebackType | None) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "open" if self._open else "closed"
        return f"<qx4.Reader port={self._port_given!r} baudrate={self.baudrate} {state}>"

    @property
    def is_ok(self) -> bool:
        """The port is open and alive."""
        return self._open and bool(self._lib.QX4IsOK())

    # -- calling the library --------------------------------------------------------

    def _call(self, function: str, *args: Any) -> None:
        if not self._open:
            raise ReaderGoneError(f"{function}: the reader is not open", function=function)
        ok = getattr(self._lib, function)(*args)
        self._dispatch.raise_held()  # from a notification handed over during the wait
        if not ok:
            raise self._failure(function)

    def _failure(self, function: str) -> Exception:
        cause = self._lib.QX4GetFailureCause()
        if cause == _NACK:
            code, detail = ctypes.c_int(), ctypes.c_int()
            self._lib.QX4GetErrorCode(ctypes.byref(code), ctypes.byref(detail))
            iso = detail.value if code.value == 5 else 0
            return self._nack(function, code.value, iso)
        if cause == _NO_PORT:
            return ReaderGoneError(f"{function}: the reader's port is closed or gone",
                                   function=function)
        if cause == _BUSY:
            return BusyError(f"{function}: another command of this process was running; "
                             "nothing sent", function=function)
        if cause == _BAD_ARGUMENT:
            return ValueError(f"{function}: the library refused the arguments (nothing sent)")
        if cause == _BAD_REPLY:
            return BadReplyError(f"{function}: the answer has the wrong length or shape",
                                 function=function)
        if cause == _FENCE_REFUSED:
            return FenceRefusedError(f"{function}: the reader refuses the reads the link "
                                     "checks its step with (EEPROM words 0 to 19)",
                                     function=function)
        if cause == _OUT_OF_STEP:
            return OutOfStepError(f"{function}: the link to the reader is out of step",
                                  function=function)
        return NoAnswerError(f"{function}: no answer within {self._timeout:g} s",
                             function=function)

    def _nack(self, function: str, code: int, detail: int) -> NackError:
        return NackError(function, code, detail, self._lib.QX4ErrorText(code, detail).decode())

    def _reading_target(self, uid: UidLike | None) -> bytes:
        if uid is not None:
            return parse_uid(uid)
        try:
            tag = self.inventory()
        except NackError as error:
            if error.code not in _LOST:
                raise
            # A garbled one-slot inventory: several tags answered at once (or one reply
            # was lost). The reader's own inventory tells them apart.
            uids = self.scan()
            if len(uids) > 1:
                raise SeveralTagsError(uids, "inventory") from None
            if not uids:
                raise
            return uids[0]
        if tag is None:
            raise self._nack("QX4Inventory", _NO_TAG, 0)
        return tag.uid

    def _tag_frame(self, function: str, multi: bool, *args: Any) -> None:
        """One block request, sent again after a reply lost on the air (up to three times)
        and once more when no tag answered it; a multi-block request's silence is left
        to the caller (the tag may not take them). A request and its retry without an
        answer raise the NackError with ``gone`` set."""
        lost = unanswered = 0
        while True:
            try:
                self._call(function, *args)
                return
            except NackError as error:
                if error.code in _LOST and lost < _RF_RETRIES:
                    lost += 1
                elif error.code == _NO_TAG and not multi and not unanswered:
                    unanswered += 1
                else:
                    setattr(error, "gone", error.code == _NO_TAG and unanswered > 0)
                    raise
                self.retries += 1
                _warn("%s; sent again", error)

    def _shorter_runs(self, target: bytes, command: str, run: int, error: NackError) -> int:
        """After a refused run: half as long after an unknown error (the tag may limit
        runs), else single blocks. Remembered for the tag."""
        longest = run // 2 if error.code == 5 and error.detail == 0x0F else 1
        self._runs[(target, command)] = longest
        _warn("%s: the tag refused %d blocks; %d a frame from now on", error, run, longest)
        return longest

    def _writing_target(self, uid: UidLike | None, what: str) -> bytes:
        """The tag a write or lock may address: the one named, else the only one there."""
        if uid is not None:
            return parse_uid(uid)
        uids = self.scan()
        if not uids:
            raise self._nack("QX4Inventory2", _NO_TAG, 0)
        if len(uids) > 1:
            raise SeveralTagsError(uids, what)
        return uids[0]

    # -- reader identity, control and I/O --------------------------------------------

    def _text(self, function: str) -> str:
        buffer = ctypes.create_string_buffer(256)
        self._call(function, buffer)
        return buffer.value.decode("latin-1")

    @_one_at_a_time
    def version(self) -> str:
        """The reader's ROM version text."""
        return self._text("QX4GetROMVersion")

    @_one_at_a_time
    def model(self) -> str:
        """The reader's model name."""
        return self._text("QX4GetModelNameComad")

    @_one_at_a_time
    def restart(self) -> None:
        """Restarts the reader (no answer awaited)."""
        self._call("QX4ReStartComand")

    @_one_at_a_time
    def carrier(self, on: bool) -> None:
        """Switches the RF carrier on or off."""
        self._call("QX4SetTxOnOff", 1 if on else 0)

    @_one_at_a_time
    def power_down(self) -> None:
        """Puts the reader into power-down (no answer awaited)."""
        self._call("QX4SetPowerDown")

    def _one_byte(self, function: str) -> int:
        value = ctypes.c_ubyte()
        self._call(function, ctypes.byref(value))
        return value.value

    @_one_at_a_time
    def power_state(self) -> int:
        """The power-down state byte."""
        return self._one_byte("QX4GetPowerDown")

    @_one_at_a_time
    def error_status(self) -> int:
        """The reader's error status byte."""
        return self._one_byte("QX4GetErrorStatus")

    @_one_at_a_time
    def leds(self, first: int, second: int, third: int) -> None:
        """The three LED control bytes."""
        self._call("QX4SetLEDCont", _byte(first, "first"), _byte(second, "second"),
                   _byte(third, "third"))

    @_one_at_a_time
    def buzzer(self, first: int, second: int) -> None:
        """Sounds the buzzer; with ``second`` 0 no answer is awaited."""
        self._call("QX4BuzOn", _byte(first, "first"), _byte(second, "second"))

    @_one_at_a_time
    def io_read(self) -> int:
        """Reads the I/O port (the value the library reports)."""
        return self._one_byte("QX4ReadIOPort")

    @_one_at_a_time
    def io_write(self, first: int, second: int) -> None:
        """Writes the I/O port."""
        self._call("QX4WriteIOPort", _byte(first, "first"), _byte(second, "second"))

    @_one_at_a_time
    def simple_read(self) -> None:
        """The simple read: a tag's data arrives as a notification."""
        self._call("QX4SimpleReadCmd")

    # -- EEPROM, parameters, modes, registers -----------------------------------------

    @_one_at_a_time
    def eeprom_read(self, address: int, count: int = 1) -> bytes:
        """``count`` EEPROM words (2 bytes each) from ``address``."""
        address, count = _byte(address, "address"), _integer(count, "count", 0, 126)
        buffer = (ctypes.c_ubyte * (2 * count + 1))()
        self._call("QX4GetEepromData2", address, count, buffer)
        return bytes(buffer[: 2 * count])

    @_one_at_a_time
    def eeprom_write(self, address: int, data: bytes) -> None:
        """Writes EEPROM words (2 bytes each, low byte first) from ``address``."""
        address, data = _byte(address, "address"), _data(data)
        if len(data) % 2 or not 0 < len(data) <= 252:
            raise ValueError(f"data is 1 to 126 words of 2 bytes, not {len(data)} bytes")
        buffer = (ctypes.c_ubyte * len(data)).from_buffer_copy(data)
        self._call("QX4SetEepromData2", address, len(data) // 2, buffer)

    @_one_at_a_time
    def eeprom_init(self) -> None:
        """Initialises the EEPROM."""
        self._call("QX4InitEEPROM")

    @_one_at_a_time
    def param_read(self, number: int) -> int:
        """A reader parameter byte."""
        value = ctypes.c_ubyte()
        self._call("QX4GetParamData", _byte(number, "number"), ctypes.byref(value))
        return value.value

    @_one_at_a_time
    def param_write(self, number: int, value: int) -> None:
        """Writes a reader parameter byte."""
        self._call("QX4SetParamData", _byte(number, "number"), _byte(value, "value"))

    @_one_at_a_time
    def operation_mode(self) -> tuple[int, int, int]:
        """The operation mode: (mode, second byte, flags)."""
        mode, second, flags = ctypes.c_ubyte(), ctypes.c_ubyte(), ctypes.c_ubyte()
        self._call("QX4GetRWMode", ctypes.byref(mode), ctypes.byref(second), ctypes.byref(flags))
        return mode.value, second.value, flags.value

    @_one_at_a_time
    def set_operation_mode(self, mode: int, second: int, flags: int, value: int = 0,
                           eeprom: bool = False) -> None:
        """Sets the operation mode (1: auto-scan; ``value`` is 16 bits); ``eeprom``
        stores it too."""
        self._call("QX4SetRWMode", _byte(mode, "mode"), _byte(second, "second"),
                   _byte(flags, "flags"), _integer(value, "value", 0, 0xFFFF),
                   1 if eeprom else 0)

    @_one_at_a_time
    def tag_mode(self) -> int:
        """The tag mode byte."""
        return self._one_byte("QX4GetTagMode")

    @_one_at_a_time
    def set_tag_mode(self, value: int, eeprom: bool = False) -> None:
        """Sets the tag mode byte."""
        self._call("QX4SetTagMode", _byte(value, "value"), 1 if eeprom else 0)

    @_one_at_a_time
    def uid_register(self) -> bytes:
        """The reader's UID register (reply order)."""
        uid = (ctypes.c_ubyte * 8)()
        self._call("QX4GetUIDGetCmd", uid)
        return bytes(uid)

    @_one_at_a_time
    def set_uid_register(self, uid: UidLike) -> None:
        """Sets the reader's UID register."""
        self._call("QX4SetUIDSetCmd", _uid_buffer(parse_uid(uid)))

    @_one_at_a_time
    def uid_list(self) -> list[bytes]:
        """The UIDs the reader collected in its last reader-side inventory."""
        count = self._one_byte("QX4GetUidNumber")
        uids = []
        for index in range(1, count + 1):
            uid = (ctypes.c_ubyte * 8)()
            self._call("QX4GetUidData", index, uid)
            uids.append(bytes(uid))
        return uids

    @_one_at_a_time
    def afi_register(self) -> int:
        """The reader's AFI register."""
        return self._one_byte("QX4GetAFIData")

    @_one_at_a_time
    def set_afi_register(self, value: int) -> None:
        """Sets the reader's AFI register."""
        self._call("QX4SetAFIData", _byte(value, "value"))

    @_one_at_a_time
    def write_tag_data(self, data: bytes) -> None:
        """Hands data to the reader to write into the tag in its field (command 0x4A).
        The request names no tag, so it refuses with :class:`SeveralTagsError` while
        several are in the field."""
        data = _data(data)
        if len(data) > 251:
            raise ValueError(f"tag data is at most 251 bytes, not {len(data)}")
        uids = self.scan()
        if len(uids) > 1:
            raise SeveralTagsError(uids, "write_tag_data", "leave only one in the field")
        buffer = (ctypes.c_ubyte * max(1, len(data))).from_buffer_copy(data.ljust(1, b"\0"))
        self._call("QX4WriteTagData", len(data), buffer)

    # -- tags -------------------------------------------------------------------------

    @_one_at_a_time
    def inventory(self) -> Tag | None:
        """One answering tag, or None when no tag answered."""
        dsfid = ctypes.c_ubyte()
        uid = (ctypes.c_ubyte * 8)()
        try:
            self._call("QX4Inventory", _ONE_SLOT, ctypes.byref(dsfid), uid)
        except NackError as error:
            if error.code == _NO_TAG:
                return None
            raise
        return Tag(bytes(uid), dsfid.value)

    @_one_at_a_time
    def scan(self) -> list[bytes]:
        """Every tag in the field (reader-side inventory), as UIDs in reply order."""
        count = ctypes.c_ubyte()
        try:
            self._call("QX4Inventory2", 0, 0, ctypes.byref(count))
        except NackError as error:
            if error.code == _NO_TAG:
                return []
            raise
        return self.uid_list()

    @_one_at_a_time
    def stay_quiet(self, uid: UidLike) -> None:
        """The tag stops answering inventories."""
        self._call("QX4StayQuiet", 0, _uid_buffer(parse_uid(uid)))

    @_one_at_a_time
    def select(self, uid: UidLike) -> None:
        """Selects the tag."""
        self._call("QX4SelectTag", _ADDRESSED, _uid_buffer(parse_uid(uid)))

    @_one_at_a_time
    def reset_to_ready(self, uid: UidLike | None = None) -> None:
        """Brings the tag (quiet or selected) back to ready."""
        self._call("QX4ResetToReady", _ADDRESSED, _uid_buffer(self._reading_target(uid)))

    @_one_at_a_time
    def system_info(self, uid: UidLike | None = None) -> SystemInfo:
        """The tag's system information (asked every time; :meth:`geometry` keeps it)."""
        target = self._reading_target(uid)
        out = (ctypes.c_ubyte * 256)()
        length = ctypes.c_int()
        self._call("QX4GetSystemInfo", _ADDRESSED, out, ctypes.byref(length),
                   _uid_buffer(target))
        data = bytes(out[: length.value - 1])  # the copy ends with the frame's ETX
        flags, at = data[0], 9
        fields: dict[str, int] = {}
        for bit, name, size in ((1, "dsfid", 1), (2, "afi", 1), (4, "memory", 2),
                                (8, "ic_reference", 1)):
            if flags & bit and at + size <= len(data):
                if name == "memory":
                    fields["block_count"] = data[at] + 1
                    fields["block_size"] = (data[at + 1] & 0x1F) + 1
                else:
                    fields[name] = data[at]
                at += size
        info = SystemInfo(flags, data[1:9], **fields)
        self._tags[target] = Geometry(info.block_size or 4, info.block_count)
        return info

    @_one_at_a_time
    def geometry(self, uid: UidLike | None = None) -> Geometry:
        """The tag's block size and count, from its system information the first time
        and remembered after that (until :meth:`close`). A tag that gives no system
        information is taken for 4-byte blocks of unknown count."""
        target = self._reading_target(uid)
        known = self._tags.get(target)
        if known is None:
            try:
                self.system_info(target)
            except NackError as error:
                if error.code != 5:  # an ISO error: the tag has no system information
                    raise
                self._tags[target] = Geometry(4, None)
            known = self._tags[target]
        return known

    def _block_size(self, target: bytes, override: int | None) -> int:
        if override is not None:
            return _integer(override, "block_size", 1, 32)
        return self.geometry(target).block_size

    @_one_at_a_time
    def read_blocks(self, first: int, count: int = 1, *, uid: UidLike | None = None,
                    security: bool = False, block_size: int | None = None) -> list[Block]:
        """``count`` blocks from ``first`` (block numbers 0 to 255), in as many frames
        as it takes; with ``security`` (the option flag) each block's lock state too."""
        first = _block(first, "first block")
        count = _integer(count, "count", 1, 256)
        _block(first + count - 1, "last block")
        if block_size is not None:
            _integer(block_size, "block_size", 1, 32)
        target = self._reading_target(uid)
        size = self._block_size(target, block_size)
        self._lib.QX4SetTagBlockSize(size)
        stride = size + (1 if security else 0)
        per_frame = min(max(1, 254 // stride), self._runs.get((target, "read"), 256))
        blocks: list[Block] = []
        mode = _ADDRESSED | (_OPTION if security else 0)
        uid_buffer = _uid_buffer(target)
        while len(blocks) < count:
            number = first + len(blocks)
            run = min(per_frame, count - len(blocks))
            out = (ctypes.c_ubyte * (run * stride + 1))()
            function = "QX4ReadSingleBlock" if run == 1 else "QX4ReadMultiBlock"
            try:
                if run == 1:
                    self._tag_frame(function, False, mode, number, out, uid_buffer)
                else:
                    self._tag_frame(function, True, mode, number, run - 1, out, uid_buffer)
            except NackError as error:
                if run > 1 and _multi_refused(error):
                    per_frame = self._shorter_runs(target, "read", run, error)
                    continue
                if getattr(error, "gone", False) and blocks:
                    raise TagLeftError(function, error.text, _left(number, len(blocks), count,
                                                                   "read"),
                                       blocks_read=len(blocks)) from None
                raise
            except BadReplyError:
                # The library takes only replies of the exact length asked for: a tag whose
                # blocks are not of the size assumed answers with another one.
                self._tags.pop(target, None)
                raise BadReplyError(
                    f"the reply does not carry {run} block(s) of {size} bytes: the tag's "
                    "blocks are not that size (pass block_size=)", function=function) from None
            for i in range(run):
                raw = bytes(out[i * stride:(i + 1) * stride])
                blocks.append(Block(number + i, raw[1:] if security else raw,
                                    bool(raw[0] & 1) if security else None))
        return blocks

    @_one_at_a_time
    def write_blocks(self, first: int, data: bytes, *, uid: UidLike | None = None,
                     option: bool = False, block_size: int | None = None) -> int:
        """Writes ``data``, whole blocks, from block ``first`` (Write Multiple Blocks in
        runs where the tag has it); returns the number of blocks written. ``option``
        sets the option flag in every request. A failure part way carries the blocks
        written before it in ``blocks_written``; so does Ctrl+C, which stops the write
        between two frames."""
        first, data = _block(first, "first block"), _data(data)
        if not data:
            raise ValueError("no data to write")
        if block_size is not None:
            size = _integer(block_size, "block_size", 1, 32)
            self._check_blocks(first, data, size)
        target = self._writing_target(uid, "write_blocks")
        size = self._block_size(target, block_size)
        blocks = self._check_blocks(first, data, size)
        known = self._tags.get(target)
        if known is not None and known.block_count is not None \
                and first + blocks > known.block_count:
            # Refused before the first frame: a write that runs off the tag's end would
            # leave the blocks before the end written and the rest not.
            raise ValueError(f"blocks {first} to {first + blocks - 1} do not fit: the tag "
                             f"has {known.block_count} blocks (0 to {known.block_count - 1})")
        self._lib.QX4SetTagBlockSize(size)
        uid_buffer = _uid_buffer(target)
        mode = _ADDRESSED | (_OPTION if option else 0)
        per_frame = min(max(1, (255 - 4 - 8) // size), self._runs.get((target, "write"), 256))
        done = 0
        with _FrameBoundary() as boundary:
            try:
                while done < blocks:
                    boundary.cross()
                    run = min(per_frame, blocks - done)
                    chunk = data[done * size:(done + run) * size]
                    buffer = (ctypes.c_ubyte * len(chunk)).from_buffer_copy(chunk)
                    # A write whose reply was lost goes again with the same data.
                    try:
                        if run == 1:
                            self._tag_frame("QX4WriteSingleBlock", False, mode, first + done,
                                            buffer, uid_buffer)
                        else:
                            self._tag_frame("QX4WriteMultiBlock", True, mode, first + done,
                                            run - 1, buffer, uid_buffer)
                    except NackError as error:
                        if run > 1 and _multi_refused(error):
                            per_frame = self._shorter_runs(target, "write", run, error)
                            continue
                        if getattr(error, "gone", False) and done:
                            raise TagLeftError(error.function, error.text,
                                               _left(first + done, done, blocks, "written"),
                                               blocks_written=done) from None
                        raise
                    done += run
                boundary.cross()
            except BaseException as error:  # a KeyboardInterrupt too says what was written
                setattr(error, "blocks_written", done)
                raise
        return done

    @staticmethod
    def _check_blocks(first: int, data: bytes, size: int) -> int:
        if len(data) % size:
            raise ValueError(f"{len(data)} bytes are not whole blocks of {size} bytes")
        blocks = len(data) // size
        _block(first + blocks - 1, "last block")
        return blocks

    def _tag_call(self, function: str, what: str, uid: UidLike | None, option: bool,
                  *args: Any) -> None:
        target = self._writing_target(uid, what)
        self._call(function, _ADDRESSED | (_OPTION if option else 0), *args,
                   _uid_buffer(target))

    @_one_at_a_time
    def lock_block(self, block: int, *, uid: UidLike | None = None,
                   option: bool = False) -> None:
        """Locks a block for good."""
        self._tag_call("QX4LockBlock", "lock_block", uid, option, _block(block))

    @_one_at_a_time
    def write_afi(self, value: int, *, uid: UidLike | None = None, option: bool = False) -> None:
        """Writes the tag's AFI."""
        self._tag_call("QX4WriteAFI", "write_afi", uid, option, _byte(value, "AFI"))

    @_one_at_a_time
    def lock_afi(self, *, uid: UidLike | None = None, option: bool = False) -> None:
        """Locks the tag's AFI for good."""
        self._tag_call("QX4LockAFI", "lock_afi", uid, option)

    @_one_at_a_time
    def write_dsfid(self, value: int, *, uid: UidLike | None = None,
                    option: bool = False) -> None:
        """Writes the tag's DSFID."""
        self._tag_call("QX4WrietDSFID", "write_dsfid", uid, option, _byte(value, "DSFID"))

    @_one_at_a_time
    def lock_dsfid(self, *, uid: UidLike | None = None, option: bool = False) -> None:
        """Locks the tag's DSFID for good."""
        self._tag_call("QX4LockDSFID", "lock_dsfid", uid, option)

    def _myd_size(self, target: bytes, data: bytes | None = None) -> int:
        size = self.geometry(target).block_size
        if data is not None and len(data) != size:
            raise ValueError(f"a my-d block holds {size} bytes, not {len(data)}")
        self._lib.QX4SetTagMydBlockSize(size)
        return size

    @_one_at_a_time
    def myd_read(self, block: int, *, uid: UidLike | None = None) -> bytes:
        """Reads a my-d block."""
        block = _block(block)
        target = self._reading_target(uid)
        size = self._myd_size(target)
        out = (ctypes.c_ubyte * (size + 1))()
        self._call("QX4Myd_Read", _ADDRESSED, block, out, _uid_buffer(target))
        return bytes(out[:size])

    @_one_at_a_time
    def myd_write(self, block: int, data: bytes, *, uid: UidLike | None = None) -> None:
        """Writes one whole my-d block (``data`` is exactly the block size)."""
        block, data = _block(block), _data(data)
        target = self._writing_target(uid, "myd_write")
        size = self._myd_size(target, data)
        buffer = (ctypes.c_ubyte * size).from_buffer_copy(data)
        self._call("QX4MydWrite", _ADDRESSED, block, buffer, _uid_buffer(target))

    @_one_at_a_time
    def myd_write_byte(self, block: int, offset: int, value: int, *,
                       uid: UidLike | None = None) -> None:
        """Writes one byte of a my-d block."""
        block, offset, value = _block(block), _byte(offset, "offset"), _byte(value, "value")
        target = self._writing_target(uid, "myd_write_byte")
        self._call("QX4Myd_WriteByte", _ADDRESSED, block, offset, value, _uid_buffer(target))

    @_one_at_a_time
    def myd_write_reread(self, block: int, data: bytes, *, uid: UidLike | None = None) -> bytes:
        """Writes one whole my-d block and returns it as read back."""
        block, data = _block(block), _data(data)
        target = self._writing_target(uid, "myd_write_reread")
        size = self._myd_size(target, data)
        buffer = (ctypes.c_ubyte * (size + 1)).from_buffer_copy(data + b"\0")
        self._call("QX4MydWriteReread", _ADDRESSED, block, buffer, _uid_buffer(target))
        return bytes(buffer[:size])

    # -- dumps (the code qx4 uses) ------------------------------------------------------

    def _dump_call(self, function: str, *args: Any) -> tuple[bool, str | None, str | None]:
        if not self._open:
            raise ReaderGoneError(f"{function}: the reader is not open", function=function)
        result, error = ctypes.c_void_p(), ctypes.c_void_p()
        ok = getattr(L.dumps(), function)(*args, ctypes.byref(result), ctypes.byref(error))
        text = L.take_text(error)
        for option, keyword in _KEYWORDS:  # libqx4dump's texts name qx4's options
            text = text.replace(option, keyword) if text else text
        return bool(ok), L.take_text(result), text

    def _count_dump_retries(self) -> None:
        retried = L.dumps().qx4dump_retries()
        if retried:
            self.retries += retried
            _warn("%d frame(s) sent again after a reply lost on the air or no answer",
                         retried)

    @_one_at_a_time
    def dump(self, uid: UidLike | None = None, *, probe_locks: bool = False,
             block_size: int | None = None, block_count: int | None = None) -> dict[str, Any]:
        """The tag as a dump, in the JSON layout of ``qx4 dump`` (``docs/dump-format.md``).
        Without ``uid``, the only tag in the field (several refuse). ``block_size`` and
        ``block_count`` override the tag's own. Nothing is written unless
        ``probe_locks``: then the AFI and DSFID are written back to find out whether
        they are locked."""
        size = 0 if block_size is None else _integer(block_size, "block_size", 1, 32)
        count = 0 if block_count is None else _integer(block_count, "block_count", 1, 256)
        target = _uid_buffer(parse_uid(uid)) if uid is not None else None
        L.dumps().qx4dump_clear_interrupt()
        with _FrameBoundary(L.dumps().qx4dump_interrupt) as boundary:  # stops between frames
            ok, text, error = boundary.run(lambda: self._dump_call(
                "qx4dump_read_tag", target, size, count, 1 if probe_locks else 0,
                self._timeout_ms))
        self._count_dump_retries()
        if not ok or text is None:
            raise DumpError(error or "the tag could not be read")
        import json  # only dumps need it: import qx4 stays quick

        result: dict[str, Any] = json.loads(text)
        return result

    def _ndef_call(self, function: str, uid: UidLike | None, *args: Any) -> dict[str, Any]:
        target = _uid_buffer(parse_uid(uid)) if uid is not None else None
        L.dumps().qx4dump_clear_interrupt()
        with _FrameBoundary(L.dumps().qx4dump_interrupt) as boundary:
            ok, text, error = boundary.run(lambda: self._dump_call(
                function, target, *args))
        import json

        result: dict[str, Any] = json.loads(text) if text else {}
        if ok:
            return result
        reason = error or f"{function} failed"
        if result.get("failure") in ("ndef", "refused"):
            raise NdefError(reason, written=list(result.get("written", [])))
        raise DumpError(reason)

    @_one_at_a_time
    def read_ndef(self, uid: UidLike | None = None) -> list[_ndef.NdefRecord]:
        """The records of the tag's NDEF message (an empty list for a formatted tag
        without one), typed (:class:`qx4.ndef.UriRecord`, ...). Reads only the blocks up
        to the end of the message. Without ``uid``, the only tag in the field. NdefError
        when the tag holds no NDEF; DumpError when it could not be read."""
        return self.read_ndef_content(uid).records

    @_one_at_a_time
    def read_ndef_content(self, uid: UidLike | None = None) -> _ndef.NdefContent:
        """:meth:`read_ndef` with the capability container and the message's bytes."""
        return _ndef.content_from_json(
            self._ndef_call("qx4dump_ndef_read", uid, self._timeout_ms))

    @_one_at_a_time
    def write_ndef(self, records: list[_ndef.NdefRecord], uid: UidLike | None = None, *,
                   option: bool = False) -> list[int]:
        """Writes the records as the tag's NDEF message, with the rules of ``qx4 ndef
        write``: only the blocks that change, read back; never past the capability
        container's memory or the tag's last block. Returns the blocks written.
        ValueError for records no message holds (before any frame); NdefError when
        refused (read-only, too long, locked blocks)."""
        message = _ndef.encode_message(records)
        return list(self._ndef_call("qx4dump_ndef_write", uid, message.hex().encode("ascii"),
                                    1 if option else 0, self._timeout_ms)["written"])

    @_one_at_a_time
    def format_ndef(self, uid: UidLike | None = None, *, option: bool = False) -> list[int]:
        """A capability container for the tag's whole memory and an empty message
        (``qx4 ndef format``). Returns the blocks written."""
        return list(self._ndef_call("qx4dump_ndef_format", uid, 1 if option else 0,
                                    self._timeout_ms)["written"])

    @_one_at_a_time
    def erase_ndef(self, uid: UidLike | None = None, *, option: bool = False) -> list[int]:
        """Leaves an empty NDEF message (``qx4 ndef erase``). Returns the blocks written."""
        return list(self._ndef_call("qx4dump_ndef_erase", uid, 1 if option else 0,
                                    self._timeout_ms)["written"])

    @_one_at_a_time
    def restore(self, dump: dict[str, Any] | str | os.PathLike[str], uid: UidLike | None = None,
                *, force: bool = False, all_blocks: bool = False, locks: bool = False,
                option: bool = False) -> RestoreReport:
        """Restores a dump (a dict as :meth:`dump` gives, a dump file's path, or its
        text in any format ``qx4`` reads) with ``qx4 restore``'s rules: only what
        differs is written and read back; another UID needs ``force``, blocks of
        another size refuse. ``all_blocks`` writes equal blocks too, ``locks`` applies
        the dump's locks, ``option`` sets the option flag in every write and lock. On
        failure the :class:`DumpError` carries the :class:`RestoreReport` of what was
        done (``report``). Ctrl+C stops it between two frames; its KeyboardInterrupt
        carries the ``report`` of what was written."""
        import json

        if isinstance(dump, dict):
            text = json.dumps(dump)
        elif isinstance(dump, os.PathLike) or (isinstance(dump, str) and os.path.exists(dump)):
            with open(dump, encoding="utf-8") as file:
                text = file.read()
        elif isinstance(dump, str) and "\n" not in dump.strip() and "{" not in dump:
            # One line that is no JSON: a file name mistyped, not a dump's text.
            raise FileNotFoundError(f"no dump file {dump!r}")
        elif isinstance(dump, str):
            text = dump
        else:
            raise TypeError("dump is a dict, a path or a dump's text, not "
                            f"{type(dump).__name__}")
        target = _uid_buffer(parse_uid(uid)) if uid is not None else None
        data = text.encode("utf-8")
        L.dumps().qx4dump_clear_interrupt()
        with _FrameBoundary(L.dumps().qx4dump_interrupt) as boundary:  # stops between frames
            ok, report_text, error = boundary.run(lambda: self._dump_call(
                "qx4dump_restore_with_option", data, target, 1 if force else 0,
                1 if all_blocks else 0, 1 if locks else 0, 1 if option else 0,
                self._timeout_ms))
            report = _restore_report(json.loads(report_text)) if report_text else None
            self._count_dump_retries()
            try:
                boundary.cross()
            except KeyboardInterrupt as interrupt:
                setattr(interrupt, "report", report)
                raise
        if not ok:
            reason = error or "not restored"
            if report is not None and report.failures:
                reason += f": {report.failures}"
            raise DumpError(reason, report=report)
        return report or RestoreReport(complete=True)

    # -- notifications ----------------------------------------------------------------

    def notifications(self, timeout: float | None = None) -> Iterator[Notification]:
        """Auto-scan frames as they arrive (put the reader in auto-scan first:
        ``set_operation_mode(1, ...)``), until ``timeout`` seconds pass (None: forever).
        Raises :class:`ReaderGoneError` when the reader goes away or is closed. Several
        iterators at once (in several threads, say) each get every notification."""
        end = None if timeout is None else time.monotonic() + _seconds(timeout, "timeout")
        if not self._open:
            raise ReaderGoneError("the reader is not open")
        return self._notifications(end)

    def _notifications(self, end: float | None) -> Iterator[Notification]:
        # Listening starts with the iteration: an iterator never started holds nothing.
        with self._lock:
            if not self._open:
                raise ReaderGoneError("the reader is not open")
            queue = self._dispatch.listen(self._lib)
        try:
            while True:
                with self._lock:
                    if not self.is_ok or not self._dispatch.listening(queue):
                        raise ReaderGoneError("the reader went away or was closed while "
                                              "notifications were awaited")
                    self._lib.QX4ReadData()
                    self._dispatch.raise_held()
                    self._dispatch.share_wakeup(queue)
                while queue:
                    yield queue.popleft()
                left = 1.0 if end is None else end - time.monotonic()
                if left <= 0:
                    return
                # Woken by the receive thread when bytes come; the limit only notices a
                # close or a lost port that came without bytes.
                WAKEUP.wait(min(left, 1.0))
        finally:
            with self._lock:
                self._dispatch.leave(self._lib, queue, self._open)


class _Dispatch:
    """The window that receives auto-scan frames, handing each to every iterator of
    :meth:`Reader.notifications`. It holds no reference to its Reader, so a dropped
    Reader still closes itself."""

    def __init__(self) -> None:
        self._queues: list[deque[Notification]] = []
        self._held: BaseException | None = None
        self.window = L.Window(L.CopyDataHook(self._arrived))

    def _arrived(self, _window: Any, record: Any) -> None:
        # An exception here would only be printed by ctypes: a Ctrl+C landing in this
        # call would be lost. It is kept and raised once the library has returned.
        try:
            r = record.contents
            data = bytes(r.data[: r.count]) if r.count else b""
            if r.kind == 1 and len(data) >= 8:
                notification = Notification("uid-data", data[:8], data[8:], time.monotonic())
            else:
                notification = Notification("data", None, data, time.monotonic())
            for queue in self._queues:
                queue.append(notification)
        except BaseException as error:  # noqa: B902 - raised by raise_held
            self._held = error

    def raise_held(self) -> None:
        held, self._held = self._held, None
        if held is not None:
            raise held

    def listen(self, lib: ctypes.CDLL) -> deque[Notification]:
        queue: deque[Notification] = deque()
        if not self._queues:
            lib.QX4SetHandle(ctypes.byref(self.window))
            lib.QX4SetReceivedHook(WAKEUP.hook, WAKEUP.user)
        self._queues.append(queue)
        return queue

    def share_wakeup(self, queue: deque[Notification]) -> None:
        """After a scan that handed out notifications: the other iterators wake too
        (one wake-up reaches one waiter)."""
        if queue:
            for _ in range(len(self._queues) - 1):
                WAKEUP.wake()

    def listening(self, queue: deque[Notification]) -> bool:
        return any(q is queue for q in self._queues)

    def leave(self, lib: ctypes.CDLL, queue: deque[Notification], is_open: bool) -> None:
        self._queues = [q for q in self._queues if q is not queue]
        if not self._queues and is_open:
            lib.QX4SetReceivedHook(None, None)
            lib.QX4SetHandle(None)

    def clear(self) -> None:
        self._queues = []
        WAKEUP.wake()


def _after_fork_in_child() -> None:
    # The library's receive thread stays in the parent: the child neither uses nor closes
    # the parent's port (closing would wait for that thread for ever), and locks held by
    # the parent's other threads are new.
    global _process_lock, _open_reader, _forked_open
    _process_lock = threading.RLock()
    reader = _open_reader() if _open_reader is not None else None
    if reader is not None:
        reader._lock = threading.RLock()
        reader._open = False
        reader._tags.clear()
        reader._dispatch.clear()
        _forked_open = True
    _open_reader = None


os.register_at_fork(after_in_child=_after_fork_in_child)


_KEYWORDS = (("--blocks", "block_count="), ("--block-size", "block_size="))


def _multi_refused(error: NackError) -> bool:
    """A refusal of Read/Write Multiple Blocks that shorter runs may not meet: not
    supported or not recognised, an unknown error, or no answer at all."""
    return (error.code == 5 and error.detail in (0x01, 0x02, 0x0F)) or error.code == _NO_TAG


def _left(number: int, done: int, count: int, what: str) -> str:
    """"tag left after block 160: 161 written, 95 not written" (number: the block that
    met no tag)."""
    return f"tag left after block {number - 1}: {done} {what}, {count - done} not {what}"


def _warn(message: str, *args: object) -> None:
    import logging  # only a field that loses replies needs it: import qx4 stays quick

    logging.getLogger("qx4").warning(message, *args)


def _open_error(where: str, code: int, reason: str) -> OpenError:
    words = reason or (os.strerror(code) if code else "it cannot be opened")
    hint = ""
    if code in (errno.EACCES, errno.EPERM) and "://" not in where:
        hint = " (is your user in the dialout group? sudo adduser $USER dialout, then log in again)"
    return OpenError(f"cannot open {where}: {words}{hint}", code or None, words, where)


def _uid_buffer(uid: bytes) -> Any:
    return (ctypes.c_ubyte * 8).from_buffer_copy(uid)


def _restore_report(report: dict[str, Any]) -> RestoreReport:
    return RestoreReport(
        complete=bool(report.get("complete", False)), written=report.get("writtenBlocks", []),
        verified=report.get("verified", 0), same=report.get("same", 0),
        skipped_locked=report.get("skippedLockedBlocks", []),
        failures=report.get("failures", []), afi=report.get("afiOutcome", "same"),
        dsfid=report.get("dsfidOutcome", "same"), unknown=report.get("unknown", []),
        refused=report.get("refused", []), interrupted=bool(report.get("interrupted", False)),
        not_written=report.get("notWritten", 0), tag_left=report.get("tagLeft"),
        retries=report.get("retries", 0), not_done=report.get("notDoneBlocks", []),
        stopped_by=report.get("stoppedBy"), unverified=report.get("unverifiedBlocks", []),
        locked=report.get("lockedBlocks", []),
        already_locked=report.get("alreadyLockedBlocks", []),
        afi_lock=report.get("afiLockOutcome", ""), dsfid_lock=report.get("dsfidLockOutcome", ""),
        dropped=report.get("droppedBlocks", []), not_in_dump=report.get("notInDumpBlocks", []))


def library_version() -> str:
    """The version of the libQX4DRV found."""
    return str(L.driver().QX4LibraryVersion().decode())


__all__ = ["Reader", "parse_uid", "library_version"]
