"""The QX4 ISO 15693 reader/writer from Python, over libQX4DRV (ctypes).

Start with :class:`Reader` (``help(qx4.Reader)``); :class:`Simulator` runs a simulated
reader for tests without hardware::

    import qx4

    with qx4.Reader("/dev/ttyUSB0") as reader:
        tag = reader.inventory()
        for block in reader.read_blocks(0, 4, uid=tag.uid):
            print(block.number, block.data.hex())
"""

from ._version import __version__

# Every name loads its module when first used (ctypes, typing and dataclasses cost tens of
# milliseconds), so that ``import qx4`` stays quick for a script or a shell completion.
TYPE_CHECKING = False  # typing costs as much as the rest: type checkers take this name too
if TYPE_CHECKING:
    from . import ndef
    from ._library import LibraryNotFound
    from .errors import (BadReplyError, BusyError, DumpError, FenceRefusedError, NackError,
                         NdefError, NoAnswerError, OpenError, OutOfStepError, QX4Error,
                         ReaderGoneError, SeveralTagsError, TagLeftError)
    from .ndef import (AbsoluteUriRecord, EmptyRecord, ExternalRecord, MimeRecord, Record,
                       SmartPosterRecord, TextRecord, UriRecord)
    from .reader import Reader, library_version, parse_uid
    from .simulator import Simulator, SimulatorError
    from .types import (Block, Geometry, Notification, RestoreReport, SystemInfo, Tag,
                        uid_text)

_HOMES = {
    "LibraryNotFound": "_library",
    **dict.fromkeys(("BadReplyError", "BusyError", "DumpError", "FenceRefusedError",
                     "NackError", "NdefError", "NoAnswerError", "OpenError", "OutOfStepError",
                     "QX4Error", "ReaderGoneError", "SeveralTagsError", "TagLeftError"),
                    "errors"),
    **dict.fromkeys(("AbsoluteUriRecord", "EmptyRecord", "ExternalRecord", "MimeRecord",
                     "Record", "SmartPosterRecord", "TextRecord", "UriRecord"), "ndef"),
    **dict.fromkeys(("Reader", "library_version", "parse_uid"), "reader"),
    **dict.fromkeys(("Simulator", "SimulatorError"), "simulator"),
    **dict.fromkeys(("Block", "Geometry", "Notification", "RestoreReport", "SystemInfo",
                     "Tag", "uid_text"), "types"),
}


def __getattr__(name: str) -> object:
    import importlib

    if name in ("errors", "ndef", "reader", "simulator", "types"):
        value: object = importlib.import_module("." + name, __name__)
    elif name in _HOMES:
        value = getattr(importlib.import_module("." + _HOMES[name], __name__), name)
    else:
        raise AttributeError(f"module 'qx4' has no attribute {name!r}")
    globals()[name] = value
    return value


def __dir__() -> "list[str]":
    return sorted(set(globals()) | set(__all__))


__all__ = [
    "AbsoluteUriRecord", "BadReplyError", "Block", "BusyError", "DumpError", "EmptyRecord",
    "ExternalRecord", "FenceRefusedError", "Geometry", "LibraryNotFound", "MimeRecord",
    "NackError", "NdefError", "NoAnswerError", "Notification", "OpenError", "OutOfStepError", "QX4Error", "Reader",
    "Record", "SmartPosterRecord", "TextRecord", "UriRecord", "ndef",
    "ReaderGoneError", "RestoreReport", "SeveralTagsError", "Simulator", "SimulatorError",
    "SystemInfo", "Tag", "TagLeftError", "library_version", "parse_uid", "uid_text",
    "__version__",
]
