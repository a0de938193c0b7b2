"""The QX4 ISO 15693 reader/writer from Python, over libQX4DRV (ctypes).

Start with :class:`Reader` (``help(qx4.Reader)``); :class:`Simulator` runs a simulated
reader for tests without hardware::

    import qx4

    with qx4.Reader("/dev/ttyUSB0") as reader:
        tag = reader.inventory()
        for block in reader.read_blocks(0, 4, uid=tag.uid):
            print(block.number, block.data.hex())
"""

from typing import TYPE_CHECKING, Any

from ._library import LibraryNotFound
from . import ndef
from .errors import (BadReplyError, BusyError, DumpError, FenceRefusedError, NackError,
                     NdefError, NoAnswerError, OpenError, OutOfStepError, QX4Error,
                     ReaderGoneError, SeveralTagsError, TagLeftError)
from .ndef import (AbsoluteUriRecord, EmptyRecord, ExternalRecord, MimeRecord, Record,
                   SmartPosterRecord, TextRecord, UriRecord)
from .reader import Reader, library_version, parse_uid
from ._version import __version__
from .types import (Block, Geometry, Notification, RestoreReport, SystemInfo, Tag,
                    uid_text)

# The simulator starts processes: its modules load when it is first named, so that
# ``import qx4`` stays quick for programs that drive a real reader.
if TYPE_CHECKING:
    from .simulator import Simulator, SimulatorError


def __getattr__(name: str) -> Any:
    if name in ("Simulator", "SimulatorError"):
        from . import simulator

        return getattr(simulator, name)
    raise AttributeError(f"module 'qx4' has no attribute {name!r}")


__all__ = [
    "AbsoluteUriRecord", "BadReplyError", "Block", "BusyError", "DumpError", "EmptyRecord",
    "ExternalRecord", "FenceRefusedError", "Geometry", "LibraryNotFound", "MimeRecord",
    "NackError", "NdefError", "NoAnswerError", "Notification", "OpenError", "OutOfStepError", "QX4Error", "Reader",
    "Record", "SmartPosterRecord", "TextRecord", "UriRecord", "ndef",
    "ReaderGoneError", "RestoreReport", "SeveralTagsError", "Simulator", "SimulatorError",
    "SystemInfo", "Tag", "TagLeftError", "library_version", "parse_uid", "uid_text",
    "__version__",
]
