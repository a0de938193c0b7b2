"""The ways a reader command fails, one exception class each.

Every exception here pickles with all its attributes (for ``multiprocessing`` and
``concurrent.futures``). Arguments that cannot form a request raise the built-in
``TypeError`` or ``ValueError`` before anything is sent.
"""

from __future__ import annotations

from typing import Any


def _rebuild(kind: type[QX4Error], message: str, state: dict[str, Any]) -> QX4Error:
    error = kind.__new__(kind)
    Exception.__init__(error, message)
    error.__dict__.update(state)
    return error


class QX4Error(Exception):
    """Base of every failure of a reader command.

    ``function`` names the library function that failed ("" when none did).
    ``blocks_written`` is set by multi-block writes: how many blocks from the first one
    asked for were written before the failure (``None`` for every other command).
    """

    def __init__(self, message: str, *, function: str = "",
                 blocks_written: int | None = None) -> None:
        super().__init__(message)
        self.function = function
        self.blocks_written = blocks_written

    def __reduce__(self) -> tuple[Any, ...]:
        return (_rebuild, (type(self), str(self), dict(self.__dict__)))


class NackError(QX4Error):
    """The reader refused the command with a NACK.

    ``code`` is the NACK code, ``detail`` the ISO 15693 error code when ``code`` is 5
    (else 0); ``text`` is libQX4DRV's text for them (``QX4ErrorText``): the ISO 15693
    error's when there is one, else the reader's text for the NACK code.
    """

    def __init__(self, function: str, code: int, detail: int, text: str) -> None:
        suffix = f"/0x{detail:02X}" if code == 5 else ""
        super().__init__(f"{function}: NACK {code}{suffix}: {text}", function=function)
        self.code = code
        self.detail = detail
        self.text = text


class TagLeftError(NackError):
    """No tag answered a request nor its retry after part of a multi-block read or write
    had gone through: the tag left the field. The message says how far it came ("tag
    left after block 160: 161 written, 95 not written"); ``blocks_written`` is set for
    writes, ``blocks_read`` for reads."""

    def __init__(self, function: str, text: str, message: str, *,
                 blocks_written: int | None = None, blocks_read: int | None = None) -> None:
        super().__init__(function, 4, 0, text)
        self.args = (message,)
        self.blocks_written = blocks_written
        self.blocks_read = blocks_read


class NoAnswerError(QX4Error):
    """No answer came within the reader's time-out (:attr:`qx4.Reader.timeout`)."""


class BadReplyError(QX4Error):
    """An answer came, but of a length or shape the command cannot take: for block reads
    usually blocks of another size than assumed (pass ``block_size=``)."""


class BusyError(QX4Error):
    """Another command of this process was running in the library (not one of this
    :class:`qx4.Reader`'s own, which wait for each other). Nothing was sent."""


class OutOfStepError(QX4Error):
    """The link to the reader could not be brought back in step: answers on the line
    cannot be told apart from a command's own."""


class FenceRefusedError(OutOfStepError):
    """The reader refuses the reads the link checks its step with (EEPROM words 0 to 19),
    so the link could not be brought back in step. The mode write still goes out
    (:meth:`qx4.Reader.set_operation_mode`)."""


class ReaderGoneError(QX4Error):
    """The reader's port could not be opened, is closed, or hung up (unplugged,
    disconnected)."""


class OpenError(ReaderGoneError, OSError):
    """The port could not be opened. Also an ``OSError``, as pyserial's errors are:
    ``errno`` is the system's error (``errno.EACCES`` when the user may not use serial
    ports, ``errno.EBUSY`` when another program has it, ``errno.ENOENT`` when there is no
    such device, ``errno.ECONNREFUSED`` ... for a network port; ``None`` when the system
    gave none), ``strerror`` its words, ``filename`` the port as given."""

    def __init__(self, message: str, errno: int | None, strerror: str,
                 filename: str) -> None:
        super().__init__(message, function="QX4DllOpen")
        self.errno = errno  # type: ignore[assignment]
        self.strerror = strerror
        self.filename = filename

    def __str__(self) -> str:
        return str(self.args[0])

    def __reduce__(self) -> tuple[Any, ...]:
        return (OpenError, (str(self), self.errno, self.strerror, self.filename),
                dict(self.__dict__))


class SeveralTagsError(QX4Error):
    """A write or lock named no tag while several are in the field; ``uids`` lists them
    (reply order). Pass ``uid=`` to say which one (or, for a request that names no tag,
    leave only one in the field)."""

    def __init__(self, uids: list[bytes], what: str, remedy: str = "name one with uid=") -> None:
        shown = ", ".join(uid[::-1].hex().upper() for uid in uids)
        super().__init__(f"{what}: {len(uids)} tags in the field ({shown}); {remedy}")
        self.uids = uids


class DumpError(QX4Error):
    """A dump could not be read, written or restored; the message says why. For a
    restore, ``report`` is the :class:`qx4.RestoreReport` of what was done (``None``
    when nothing was)."""

    def __init__(self, message: str, *, report: Any = None) -> None:
        super().__init__(message)
        self.report = report


class NdefError(QX4Error):
    """A tag's memory or a message holds no NDEF that can be read (no capability
    container, a TLV or record that runs past its end), or a write was refused before
    anything was written (a read-only tag, a message longer than the tag's NDEF area,
    blocks that must change but are locked). ``written`` lists the blocks written."""

    def __init__(self, message: str, *, written: list[int] | None = None) -> None:
        super().__init__(message)
        self.written = written or []
