"""The reader: one per process, as the library has one context per process."""

from __future__ import annotations

import ctypes
import json
import os
import time
from collections.abc import Iterator
from pathlib import Path
from types import TracebackType
from typing import Any

from . import _library as L
from .errors import DumpError, NackError, NoAnswerError, QX4Error, ReaderGoneError
from .types import Block, Notification, RestoreReport, SystemInfo, Tag, uid_text

UidLike = bytes | bytearray | str

_ADDRESSED = 0x01
_OPTION = 0x10
_ONE_SLOT = 0x40
_open_reader: "Reader | None" = None


def parse_uid(uid: UidLike) -> bytes:
    """8 bytes in reply order, from those bytes or from the text ``qx4`` shows
    (16 hex digits, most significant first, ':' or ' ' between bytes)."""
    if isinstance(uid, (bytes, bytearray)):
        if len(uid) != 8:
            raise ValueError(f"a UID has 8 bytes, not {len(uid)}")
        return bytes(uid)
    digits = uid.replace(":", "").replace(" ", "")
    if len(digits) != 16 or any(c not in "0123456789abcdefABCDEF" for c in digits):
        raise ValueError(f"a UID is 16 hex digits, not {uid!r}")
    return bytes.fromhex(digits)[::-1]


def _byte(value: int, what: str) -> int:
    if not 0 <= value <= 255:
        raise ValueError(f"{what} is a byte (0 to 255), not {value}")
    return value


class _Wire:
    """What the library's trace shows of the current call: a frame sent, a NACK."""

    def __init__(self) -> None:
        self.sent = False
        self.nack: bytes | None = None
        self.ack_count = -1  # the data count n of the last ACK
        self.hook = L.TraceHook(self._frame)

    def _frame(self, direction: int, data: Any, count: int, _user: Any) -> None:
        if direction == 0:
            self.sent = True
        elif direction == 1 and count > 4 and data[2] == 0x31:
            self.nack = bytes(data[:count])
        elif direction == 1 and count > 4 and data[2] == 0x30:
            self.ack_count = data[3]

    def mark(self) -> None:
        self.sent = False
        self.nack = None
        self.ack_count = -1


class Reader:
    """The reader on COM ``port`` (``QX4_COM<port>``; ``device`` sets it: a device path,
    ``rfc2217://HOST:PORT`` or ``tcp://HOST:PORT``), at 19200 baud or 9600 with
    ``slow``. A context manager; commands raise :class:`NackError`,
    :class:`NoAnswerError` or :class:`ReaderGoneError` on failure, ``ValueError`` for
    arguments that cannot form a frame."""

    def __init__(self, port: int = 3, *, device: str | None = None, slow: bool = False,
                 timeout_ms: int = 2000) -> None:
        self.port = port
        self.device = device
        self.slow = slow
        self.timeout_ms = timeout_ms
        self._lib = L.driver()
        self._wire = _Wire()
        self._open = False

    # -- lifecycle ------------------------------------------------------------------

    def open(self) -> "Reader":
        """Opens the port; a second open Reader in this process is refused."""
        global _open_reader
        if _open_reader is not None:
            raise RuntimeError("another qx4.Reader is open in this process: the library has "
                               "one context per process; close it first")
        if self.device:
            os.environ[f"QX4_COM{self.port}"] = self.device
        if not self._lib.QX4DllOpen(self.port, 1 if self.slow else 0):
            self._lib.QX4DllClose()
            where = self.device or os.environ.get(f"QX4_COM{self.port}", f"COM{self.port}")
            raise ReaderGoneError(f"cannot open COM{self.port} ({where}): it does not exist, "
                                  "is in use, or cannot be reached")
        self._lib.QX4SetCmdWaitTime(self.timeout_ms)
        self._lib.QX4SetTraceHook(self._wire.hook, None)
        self._open = True
        _open_reader = self
        return self

    def close(self) -> None:
        """Closes the port and the library's context."""
        global _open_reader
        if self._open:
            self._lib.QX4SetTraceHook(L.TraceHook(0), None)  # no hook
            self._lib.QX4SetHandle(None)
            self._lib.QX4DllClose()
            self._open = False
            _open_reader = None

    def __enter__(self) -> "Reader":
        return self.open()

    def __exit__(self, kind: type[BaseException] | None, value: BaseException | None,
                 trace: TracebackType | None) -> None:
        self.close()

    @property
    def is_ok(self) -> bool:
        """The port is open and alive."""
        return bool(self._lib.QX4IsOK())

    # -- calling the library --------------------------------------------------------

    def _call(self, function: str, *args: Any) -> None:
        if not self._open:
            raise ReaderGoneError("the reader is not open")
        self._wire.mark()
        if getattr(self._lib, function)(*args):
            return
        nack = self._wire.nack
        if nack is not None:
            code = nack[4]
            detail = nack[5] if code == 5 and nack[3] >= 2 else 0
            text = L.dumps().qx4dump_nack_text(code, detail if code == 5 else -1).decode()
            reader_text = self._lib.QX4ErrorText(code, detail).decode()
            raise NackError(function, code, detail, text, reader_text)
        if not self._lib.QX4IsOK():
            raise ReaderGoneError(f"{function}: the reader's port is gone")
        if not self._wire.sent:
            raise ValueError(f"{function}: the request does not fit one frame (nothing sent)")
        raise NoAnswerError(f"{function}: no answer within {self.timeout_ms} ms")

    def _uid(self, uid: UidLike | None) -> bytes:
        if uid is not None:
            return parse_uid(uid)
        tag = self.inventory()
        if tag is None:
            raise NackError("QX4Inventory", 4, 0, "no tag answered", "")
        return tag.uid

    # -- reader identity, control and I/O --------------------------------------------

    def _text(self, function: str) -> str:
        buffer = ctypes.create_string_buffer(256)
        self._call(function, buffer)
        return buffer.value.decode("latin-1")

    def version(self) -> str:
        """The reader's ROM version text."""
        return self._text("QX4GetROMVersion")

    def model(self) -> str:
        """The reader's model name."""
        return self._text("QX4GetModelNameComad")

    def restart(self) -> None:
        """Restarts the reader (no answer awaited)."""
        self._call("QX4ReStartComand")

    def carrier(self, on: bool) -> None:
        """Switches the RF carrier on or off."""
        self._call("QX4SetTxOnOff", 1 if on else 0)

    def power_down(self) -> None:
        """Puts the reader into power-down (no answer awaited)."""
        self._call("QX4SetPowerDown")

    def _one_byte(self, function: str) -> int:
        value = ctypes.c_ubyte()
        self._call(function, ctypes.byref(value))
        return value.value

    def power_state(self) -> int:
        """The power-down state byte."""
        return self._one_byte("QX4GetPowerDown")

    def error_status(self) -> int:
        """The reader's error status byte."""
        return self._one_byte("QX4GetErrorStatus")

    def leds(self, first: int, second: int, third: int) -> None:
        """The three LED control bytes."""
        self._call("QX4SetLEDCont", _byte(first, "first"), _byte(second, "second"),
                   _byte(third, "third"))

    def buzzer(self, first: int, second: int) -> None:
        """Sounds the buzzer; with ``second`` 0 no answer is awaited."""
        self._call("QX4BuzOn", _byte(first, "first"), _byte(second, "second"))

    def io_read(self) -> int:
        """Reads the I/O port (the value the library reports)."""
        return self._one_byte("QX4ReadIOPort")

    def io_write(self, first: int, second: int) -> None:
        """Writes the I/O port."""
        self._call("QX4WriteIOPort", _byte(first, "first"), _byte(second, "second"))

    def simple_read(self) -> None:
        """The simple read: a tag's data arrives as a notification."""
        self._call("QX4SimpleReadCmd")

    # -- EEPROM, parameters, modes, registers -----------------------------------------

    def eeprom_read(self, address: int, count: int = 1) -> bytes:
        """``count`` EEPROM words (2 bytes each) from ``address``."""
        if not 0 <= count <= 126:
            raise ValueError("count is 0 to 126 words")
        buffer = (ctypes.c_ubyte * (2 * count + 1))()
        self._call("QX4GetEepromData2", _byte(address, "address"), count, buffer)
        return bytes(buffer[: 2 * count])

    def eeprom_write(self, address: int, data: bytes) -> None:
        """Writes EEPROM words (2 bytes each, low byte first) from ``address``."""
        if len(data) % 2 or not 0 < len(data) <= 252:
            raise ValueError("data is 1 to 126 words of 2 bytes")
        buffer = (ctypes.c_ubyte * len(data)).from_buffer_copy(data)
        self._call("QX4SetEepromData2", _byte(address, "address"), len(data) // 2, buffer)

    def eeprom_init(self) -> None:
        """Initialises the EEPROM."""
        self._call("QX4InitEEPROM")

    def param_read(self, number: int) -> int:
        """A reader parameter byte."""
        value = ctypes.c_ubyte()
        self._call("QX4GetParamData", _byte(number, "number"), ctypes.byref(value))
        return value.value

    def param_write(self, number: int, value: int) -> None:
        """Writes a reader parameter byte."""
        self._call("QX4SetParamData", _byte(number, "number"), _byte(value, "value"))

    def operation_mode(self) -> tuple[int, int, int]:
        """The operation mode: (mode, second byte, flags)."""
        mode, second, flags = ctypes.c_ubyte(), ctypes.c_ubyte(), ctypes.c_ubyte()
        self._call("QX4GetRWMode", ctypes.byref(mode), ctypes.byref(second), ctypes.byref(flags))
        return mode.value, second.value, flags.value

    def set_operation_mode(self, mode: int, second: int, flags: int, value: int = 0,
                           eeprom: bool = False) -> None:
        """Sets the operation mode (1: auto-scan); ``eeprom`` stores it too."""
        self._call("QX4SetRWMode", _byte(mode, "mode"), _byte(second, "second"),
                   _byte(flags, "flags"), value, 1 if eeprom else 0)

    def tag_mode(self) -> int:
        """The tag mode byte."""
        return self._one_byte("QX4GetTagMode")

    def set_tag_mode(self, value: int, eeprom: bool = False) -> None:
        """Sets the tag mode byte."""
        self._call("QX4SetTagMode", _byte(value, "value"), 1 if eeprom else 0)

    def uid_register(self) -> bytes:
        """The reader's UID register (reply order)."""
        uid = (ctypes.c_ubyte * 8)()
        self._call("QX4GetUIDGetCmd", uid)
        return bytes(uid)

    def set_uid_register(self, uid: UidLike) -> None:
        """Sets the reader's UID register."""
        self._call("QX4SetUIDSetCmd", (ctypes.c_ubyte * 8).from_buffer_copy(parse_uid(uid)))

    def uid_list(self) -> list[bytes]:
        """The UIDs the reader collected in its last reader-side inventory."""
        count = self._one_byte("QX4GetUidNumber")
        uids = []
        for index in range(1, count + 1):
            uid = (ctypes.c_ubyte * 8)()
            self._call("QX4GetUidData", index, uid)
            uids.append(bytes(uid))
        return uids

    def afi_register(self) -> int:
        """The reader's AFI register."""
        return self._one_byte("QX4GetAFIData")

    def set_afi_register(self, value: int) -> None:
        """Sets the reader's AFI register."""
        self._call("QX4SetAFIData", _byte(value, "value"))

    def write_tag_data(self, data: bytes) -> None:
        """Hands data to the reader to write into the tag in its field (command 0x4A)."""
        if len(data) > 251:
            raise ValueError("tag data is at most 251 bytes")
        buffer = (ctypes.c_ubyte * max(1, len(data))).from_buffer_copy(data.ljust(1, b"\0"))
        self._call("QX4WriteTagData", len(data), buffer)

    # -- tags -------------------------------------------------------------------------

    def inventory(self) -> Tag | None:
        """One answering tag, or None when no tag answered."""
        dsfid = ctypes.c_ubyte()
        uid = (ctypes.c_ubyte * 8)()
        try:
            self._call("QX4Inventory", _ONE_SLOT, ctypes.byref(dsfid), uid)
        except NackError as error:
            if error.code == 4:
                return None
            raise
        return Tag(bytes(uid), dsfid.value)

    def scan(self) -> list[bytes]:
        """Every tag in the field (reader-side inventory), as UIDs in reply order."""
        count = ctypes.c_ubyte()
        try:
            self._call("QX4Inventory2", 0, 0, ctypes.byref(count))
        except NackError as error:
            if error.code == 4:
                return []
            raise
        return self.uid_list()

    def stay_quiet(self, uid: UidLike) -> None:
        """The tag stops answering inventories."""
        self._call("QX4StayQuiet", 0, (ctypes.c_ubyte * 8).from_buffer_copy(parse_uid(uid)))

    def select(self, uid: UidLike) -> None:
        """Selects the tag."""
        self._call("QX4SelectTag", _ADDRESSED,
                   (ctypes.c_ubyte * 8).from_buffer_copy(parse_uid(uid)))

    def reset_to_ready(self, uid: UidLike | None = None) -> None:
        """Brings the tag (quiet or selected) back to ready."""
        self._call("QX4ResetToReady", _ADDRESSED, self._uid_buffer(uid))

    def _uid_buffer(self, uid: UidLike | None) -> Any:
        return (ctypes.c_ubyte * 8).from_buffer_copy(self._uid(uid))

    def system_info(self, uid: UidLike | None = None) -> SystemInfo:
        """The tag's system information."""
        out = (ctypes.c_ubyte * 256)()
        length = ctypes.c_int()
        self._call("QX4GetSystemInfo", _ADDRESSED, out, ctypes.byref(length),
                   self._uid_buffer(uid))
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
        return SystemInfo(flags, data[1:9], **fields)

    def _block_size(self, uid: bytes) -> int:
        try:
            size = self.system_info(uid).block_size
        except NackError:
            size = None
        return size or 4

    def read_blocks(self, first: int, count: int = 1, *, uid: UidLike | None = None,
                    security: bool = False) -> list[Block]:
        """``count`` blocks from ``first``, in as many frames as it takes; with
        ``security`` each block's lock state too. The block size comes from the tag."""
        target = self._uid(uid)
        size = self._block_size(target)
        self._lib.QX4SetTagBlockSize(size)
        stride = size + (1 if security else 0)
        per_frame = max(1, min(256, 254 // stride))
        blocks: list[Block] = []
        mode = _ADDRESSED | (_OPTION if security else 0)
        uid_buffer = (ctypes.c_ubyte * 8).from_buffer_copy(target)
        while len(blocks) < count:
            number = first + len(blocks)
            run = min(per_frame, count - len(blocks))
            out = (ctypes.c_ubyte * (run * stride + 1))()
            if run == 1:
                self._call("QX4ReadSingleBlock", mode, number, out, uid_buffer)
            else:
                try:
                    self._call("QX4ReadMultiBlock", mode, number, run - 1, out, uid_buffer)
                except NackError as error:
                    if error.code == 5 and error.detail == 0x01:  # no multi-block reads
                        per_frame = 1
                        continue
                    raise
            # A tag whose blocks are not of the size assumed answers with another length.
            if self._wire.ack_count != 1 + run * stride:
                raise QX4Error(f"the reply carries {self._wire.ack_count - 1} bytes where {run} "
                               f"block(s) of {size} bytes take {run * stride}: the tag's blocks "
                               "are not that size (it gives no system information)")
            for i in range(run):
                raw = bytes(out[i * stride:(i + 1) * stride])
                blocks.append(Block(number + i, raw[1:] if security else raw,
                                    bool(raw[0] & 1) if security else None))
        return blocks

    def write_blocks(self, first: int, data: bytes, *, uid: UidLike | None = None) -> int:
        """Writes whole blocks from ``first`` (Write Multiple Blocks in runs where the tag
        has it); returns the number of blocks written."""
        target = self._uid(uid)
        size = self._block_size(target)
        if not data or len(data) % size:
            raise ValueError(f"data must be whole blocks of {size} bytes")
        self._lib.QX4SetTagBlockSize(size)
        uid_buffer = (ctypes.c_ubyte * 8).from_buffer_copy(target)
        blocks = len(data) // size
        per_frame = max(1, (255 - 4 - 8) // size)
        done = 0
        while done < blocks:
            run = min(per_frame, blocks - done)
            chunk = data[done * size:(done + run) * size]
            buffer = (ctypes.c_ubyte * len(chunk)).from_buffer_copy(chunk)
            if run == 1:
                self._call("QX4WriteSingleBlock", _ADDRESSED, first + done, buffer, uid_buffer)
            else:
                try:
                    self._call("QX4WriteMultiBlock", _ADDRESSED, first + done, run - 1, buffer,
                               uid_buffer)
                except NackError as error:
                    if error.code == 5 and error.detail == 0x01:
                        per_frame = 1
                        continue
                    raise
            done += run
        return done

    def lock_block(self, block: int, *, uid: UidLike | None = None) -> None:
        """Locks a block for good."""
        self._call("QX4LockBlock", _ADDRESSED, _byte(block, "block"), self._uid_buffer(uid))

    def write_afi(self, value: int, *, uid: UidLike | None = None) -> None:
        """Writes the tag's AFI."""
        self._call("QX4WriteAFI", _ADDRESSED, _byte(value, "AFI"), self._uid_buffer(uid))

    def lock_afi(self, *, uid: UidLike | None = None) -> None:
        """Locks the tag's AFI for good."""
        self._call("QX4LockAFI", _ADDRESSED, self._uid_buffer(uid))

    def write_dsfid(self, value: int, *, uid: UidLike | None = None) -> None:
        """Writes the tag's DSFID."""
        self._call("QX4WrietDSFID", _ADDRESSED, _byte(value, "DSFID"), self._uid_buffer(uid))

    def lock_dsfid(self, *, uid: UidLike | None = None) -> None:
        """Locks the tag's DSFID for good."""
        self._call("QX4LockDSFID", _ADDRESSED, self._uid_buffer(uid))

    def _myd_size(self, uid: bytes) -> int:
        size = self._block_size(uid)
        self._lib.QX4SetTagMydBlockSize(size)
        return size

    def myd_read(self, block: int, *, uid: UidLike | None = None) -> bytes:
        """Reads a my-d block."""
        target = self._uid(uid)
        size = self._myd_size(target)
        out = (ctypes.c_ubyte * (size + 1))()
        self._call("QX4Myd_Read", _ADDRESSED, _byte(block, "block"), out,
                   (ctypes.c_ubyte * 8).from_buffer_copy(target))
        return bytes(out[:size])

    def myd_write(self, block: int, data: bytes, *, uid: UidLike | None = None) -> None:
        """Writes a my-d block (``data`` padded with zeros to the block size)."""
        target = self._uid(uid)
        size = self._myd_size(target)
        if len(data) > size:
            raise ValueError(f"a my-d block holds {size} bytes")
        buffer = (ctypes.c_ubyte * size).from_buffer_copy(data.ljust(size, b"\0"))
        self._call("QX4MydWrite", _ADDRESSED, _byte(block, "block"), buffer,
                   (ctypes.c_ubyte * 8).from_buffer_copy(target))

    def myd_write_byte(self, block: int, offset: int, value: int, *,
                       uid: UidLike | None = None) -> None:
        """Writes one byte of a my-d block."""
        self._call("QX4Myd_WriteByte", _ADDRESSED, _byte(block, "block"),
                   _byte(offset, "offset"), _byte(value, "value"), self._uid_buffer(uid))

    def myd_write_reread(self, block: int, data: bytes, *, uid: UidLike | None = None) -> bytes:
        """Writes a my-d block and returns it as read back."""
        target = self._uid(uid)
        size = self._myd_size(target)
        if len(data) > size:
            raise ValueError(f"a my-d block holds {size} bytes")
        buffer = (ctypes.c_ubyte * (size + 1)).from_buffer_copy(data.ljust(size + 1, b"\0"))
        self._call("QX4MydWriteReread", _ADDRESSED, _byte(block, "block"), buffer,
                   (ctypes.c_ubyte * 8).from_buffer_copy(target))
        return bytes(buffer[:size])

    # -- dumps (the code qx4 uses) ------------------------------------------------------

    def _dump_call(self, function: str, *args: Any) -> tuple[bool, str | None, str | None]:
        if not self._open:
            raise ReaderGoneError("the reader is not open")
        result, error = ctypes.c_void_p(), ctypes.c_void_p()
        ok = getattr(L.dumps(), function)(*args, ctypes.byref(result), ctypes.byref(error))
        self._lib.QX4SetTraceHook(self._wire.hook, None)  # it had its own meanwhile
        return bool(ok), L.take_text(result), L.take_text(error)

    def dump(self, uid: UidLike | None = None, *, probe_locks: bool = True) -> dict[str, Any]:
        """The tag as a dump, in the JSON layout of ``qx4 dump`` (``docs/dump-format.md``).
        Without ``uid``, the only tag in the field (several refuse)."""
        target = (ctypes.c_ubyte * 8).from_buffer_copy(parse_uid(uid)) if uid else None
        ok, text, error = self._dump_call("qx4dump_read_tag", target, 0, 0,
                                          1 if probe_locks else 0, self.timeout_ms)
        if not ok or text is None:
            raise DumpError(error or "the tag could not be read")
        result: dict[str, Any] = json.loads(text)
        return result

    def restore(self, dump: dict[str, Any] | str | Path, uid: UidLike | None = None, *,
                force: bool = False, all_blocks: bool = False,
                locks: bool = False) -> RestoreReport:
        """Restores a dump (a dict as :meth:`dump` gives, a dump file's path, or its
        text in any format ``qx4`` reads) with ``qx4 restore``'s rules: only what
        differs is written and read back; another UID or geometry needs ``force``."""
        if isinstance(dump, dict):
            text = json.dumps(dump)
        elif isinstance(dump, Path) or (isinstance(dump, str) and os.path.exists(dump)):
            text = Path(dump).read_text(encoding="utf-8")
        else:
            text = dump
        target = (ctypes.c_ubyte * 8).from_buffer_copy(parse_uid(uid)) if uid else None
        ok, report_text, error = self._dump_call(
            "qx4dump_restore", text.encode("utf-8"), target, 1 if force else 0,
            1 if all_blocks else 0, 1 if locks else 0, self.timeout_ms)
        report = json.loads(report_text) if report_text else {}
        result = RestoreReport(
            complete=bool(report.get("complete", False)), written=report.get("writtenBlocks", []),
            verified=report.get("verified", 0), same=report.get("same", 0),
            skipped_locked=report.get("skippedLockedBlocks", []),
            failures=report.get("failures", []), afi=report.get("afiOutcome", "same"),
            dsfid=report.get("dsfidOutcome", "same"))
        if not ok and (report.get("refused") or not report):
            raise DumpError(error or "not restored")
        if not ok:
            raise DumpError(f"{error}: {report.get('failures')}")
        return result

    # -- notifications ----------------------------------------------------------------

    def notifications(self, timeout: float | None = None) -> Iterator[Notification]:
        """Auto-scan frames as they arrive (put the reader in auto-scan first:
        ``set_operation_mode(1, ...)``), until ``timeout`` seconds pass (None: forever)."""
        queue: list[Notification] = []

        def arrived(_window: Any, record: Any) -> None:
            r = record.contents
            data = bytes(r.data[: r.count]) if r.count else b""
            if r.kind == 1 and len(data) >= 8:
                queue.append(Notification("uid-data", data[:8], data[8:], time.monotonic()))
            else:
                queue.append(Notification("data", None, data, time.monotonic()))

        window = L.Window(L.CopyDataHook(arrived))
        self._lib.QX4SetHandle(ctypes.byref(window))
        end = None if timeout is None else time.monotonic() + timeout
        try:
            while end is None or time.monotonic() < end:
                self._lib.QX4ReadData()
                while queue:
                    yield queue.pop(0)
                time.sleep(0.05)
            self._lib.QX4ReadData()
            while queue:
                yield queue.pop(0)
        finally:
            self._lib.QX4SetHandle(None)


def library_version() -> str:
    """The version of the libQX4DRV found."""
    return str(L.driver().QX4LibraryVersion().decode())


__all__ = ["Reader", "parse_uid", "uid_text", "library_version"]
