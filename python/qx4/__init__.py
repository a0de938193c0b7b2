"""The QX4 ISO 15693 reader/writer from Python, over libQX4DRV (ctypes)."""

from ._library import LibraryNotFound
from .errors import DumpError, NackError, NoAnswerError, QX4Error, ReaderGoneError
from .reader import Reader, library_version, parse_uid
from .types import Block, Notification, RestoreReport, SystemInfo, Tag, uid_text

__version__ = "1.0.0"

__all__ = [
    "Block", "DumpError", "LibraryNotFound", "NackError", "NoAnswerError", "Notification",
    "QX4Error", "Reader", "ReaderGoneError", "RestoreReport", "SystemInfo", "Tag",
    "library_version", "parse_uid", "uid_text", "__version__",
]
