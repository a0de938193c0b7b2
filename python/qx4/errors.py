"""The ways a reader command fails, one exception class each."""

from __future__ import annotations


class QX4Error(Exception):
    """Base of every failure of a reader command."""


class NackError(QX4Error):
    """The reader answered with a NACK.

    ``code`` is the NACK code, ``detail`` the ISO 15693 error code when ``code`` is 5
    (else 0); ``text`` says it in English, ``reader_text`` is the reader's own text.
    """

    def __init__(self, function: str, code: int, detail: int, text: str, reader_text: str):
        self.function = function
        self.code = code
        self.detail = detail
        self.text = text
        self.reader_text = reader_text
        suffix = f"/0x{detail:02X}" if code == 5 else ""
        super().__init__(f"{function}: NACK {code}{suffix}: {text} ({reader_text})")


class NoAnswerError(QX4Error):
    """No answer came within the response time-out."""


class ReaderGoneError(QX4Error):
    """The reader's port could not be opened, or hung up (unplugged, disconnected)."""


class DumpError(QX4Error):
    """A dump could not be read, written or restored; the message says why."""
