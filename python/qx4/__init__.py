"""The QX4 ISO 15693 reader/writer from Python, over libQX4DRV (ctypes).

Start with :class:`Reader` (``help(qx4.Reader)``); :class:`Simulator` runs a simulated
reader for tests without hardware::

    import qx4

    with qx4.Reader("/dev/ttyUSB0") as reader:
        tag = reader.inventory()
        for block in reader.read_blocks(0, 4, uid=tag.uid):
            print(block.number, block.data.hex())
"""

from importlib import metadata as _metadata

from ._library import LibraryNotFound
from . import ndef
from .errors import (BadReplyError, BusyError, DumpError, NackError, NdefError, NoAnswerError,
                     OutOfStepError, QX4Error, ReaderGoneError, SeveralTagsError)
from .ndef import (AbsoluteUriRecord, EmptyRecord, ExternalRecord, MimeRecord, Record,
                   SmartPosterRecord, TextRecord, UriRecord)
from .reader import Reader, library_version, parse_uid
from .simulator import Simulator, SimulatorError
from .types import (Block, Geometry, Notification, RestoreReport, SystemInfo, Tag,
                    uid_text)

try:
    __version__ = _metadata.version("qx4")
except _metadata.PackageNotFoundError:  # used from the source tree
    __version__ = "1.0.0"

__all__ = [
    "AbsoluteUriRecord", "BadReplyError", "Block", "BusyError", "DumpError", "EmptyRecord",
    "ExternalRecord", "Geometry", "LibraryNotFound", "MimeRecord", "NackError", "NdefError",
    "Record", "SmartPosterRecord", "TextRecord", "UriRecord", "ndef", "NoAnswerError", "Notification", "OutOfStepError", "QX4Error", "Reader",
    "ReaderGoneError", "RestoreReport", "SeveralTagsError", "Simulator", "SimulatorError",
    "SystemInfo", "Tag", "library_version", "parse_uid", "uid_text", "__version__",
]
