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
from .errors import (BadReplyError, BusyError, DumpError, NackError, NoAnswerError,
                     OutOfStepError, QX4Error, ReaderGoneError, SeveralTagsError, TagLeftError)
from .reader import Reader, library_version, parse_uid
from .simulator import Simulator, SimulatorError
from .types import (Block, Geometry, Notification, RestoreReport, SystemInfo, Tag,
                    uid_text)

try:
    __version__ = _metadata.version("qx4")
except _metadata.PackageNotFoundError:  # used from the source tree
    __version__ = "1.0.0"

__all__ = [
    "BadReplyError", "Block", "BusyError", "DumpError", "Geometry", "LibraryNotFound",
    "NackError", "NoAnswerError", "Notification", "OutOfStepError", "QX4Error", "Reader",
    "ReaderGoneError", "RestoreReport", "SeveralTagsError", "Simulator", "SimulatorError",
    "SystemInfo", "Tag", "TagLeftError", "library_version", "parse_uid", "uid_text", "__version__",
]
