"""What reader commands return."""

from __future__ import annotations

from dataclasses import dataclass, field, fields


def uid_text(uid: bytes) -> str:
    """A UID as people write it: most significant byte first, upper-case hex."""
    return uid[::-1].hex().upper()


def _shown(name: str, value: object) -> str:
    if name == "uid" and isinstance(value, bytes) and len(value) == 8:
        return f"uid={uid_text(value)!r}"  # as qx4 shows it, not in reply order
    return f"{name}={value!r}"


def _hex_repr(self: object) -> str:
    shown = ", ".join(_shown(f.name, getattr(self, f.name)) for f in fields(self))
    return f"{type(self).__name__}({shown})"


@dataclass(frozen=True, repr=False)
class Tag:
    """A tag that answered an inventory. ``uid`` is in the order the reader delivers
    it (least significant byte first)."""

    uid: bytes
    dsfid: int

    @property
    def uid_hex(self) -> str:
        """The UID most significant byte first, as ``qx4`` shows it."""
        return uid_text(self.uid)


@dataclass(frozen=True, repr=False)
class Block:
    """One block of tag memory; ``locked`` is known when read with ``security=True``."""

    number: int
    data: bytes
    locked: bool | None = None


@dataclass(frozen=True, repr=False)
class SystemInfo:
    """A tag's system information; fields the tag does not give are ``None``."""

    flags: int
    uid: bytes
    dsfid: int | None = None
    afi: int | None = None
    block_count: int | None = None
    block_size: int | None = None
    ic_reference: int | None = None

    @property
    def has_dsfid(self) -> bool:
        """Info flag 0x01: the tag gave its DSFID."""
        return bool(self.flags & 0x01)

    @property
    def has_afi(self) -> bool:
        """Info flag 0x02: the tag gave its AFI."""
        return bool(self.flags & 0x02)

    @property
    def has_memory_size(self) -> bool:
        """Info flag 0x04: the tag gave its block size and count."""
        return bool(self.flags & 0x04)

    @property
    def has_ic_reference(self) -> bool:
        """Info flag 0x08: the tag gave its IC reference."""
        return bool(self.flags & 0x08)

    @property
    def manufacturer_code(self) -> int:
        """The ISO/IEC 7816-6 manufacturer code: the UID byte after E0."""
        return self.uid[6]

    @property
    def manufacturer(self) -> str | None:
        """The chip's maker named by the UID (``qx4 info``'s table), or None when the
        code is not in it or the UID does not start with E0."""
        if len(self.uid) != 8 or self.uid[7] != 0xE0:
            return None
        from . import _library
        name: bytes | None = _library.dumps().qx4dump_manufacturer(self.manufacturer_code)
        return name.decode("utf-8") if name else None


@dataclass(frozen=True)
class Geometry:
    """A tag's blocks: ``block_size`` bytes each, ``block_count`` of them (``None``
    when the tag does not say)."""

    block_size: int
    block_count: int | None


@dataclass(frozen=True, repr=False)
class Notification:
    """An auto-scan frame: ``kind`` "data" or "uid-data"; ``uid`` for "uid-data";
    ``time`` in seconds (``time.monotonic``)."""

    kind: str
    uid: bytes | None
    data: bytes
    time: float


@dataclass(frozen=True)
class RestoreReport:
    """What a restore did, as ``qx4 restore --json`` reports it: the blocks written,
    how many were verified or already the same, the locked blocks skipped, each failure
    (``what``: "block", "lock", "AFI", "DSFID", "AFI lock" or "DSFID lock"; ``cause``,
    ``function``, ``block``, ``nack``, ``iso``), the outcome for the AFI and the DSFID
    ("same", "written", "skipped-locked", "failed", "not-done" or "unknown"), what the
    dump or the tag did not know (``unknown``), the mismatches that refused it
    (``refused``), whether it was interrupted, the blocks it meant to write but did not
    (``not_written``), of those the ones never tried because the run stopped
    (``not_done``, with the cause in ``stopped_by``), the written ones it could not read
    back (``unverified``), ``tag_left`` when the tag left the field part way ("tag left
    after block 160: 161 written, 95 not written") and the frames sent again
    (``retries``). With ``locks``: the blocks locked now (``locked``) or found locked
    (``already_locked``), and the AFI's and DSFID's lock outcomes ("locked",
    "already-locked", "failed", "not-done"; "" when the dump wants none). With ``force``
    and another block count: the dump's blocks beyond the tag's end (``dropped``) and the
    tag's beyond the dump's (``not_in_dump``)."""

    complete: bool
    written: list[int] = field(default_factory=list)
    verified: int = 0
    same: int = 0
    skipped_locked: list[int] = field(default_factory=list)
    failures: list[dict[str, object]] = field(default_factory=list)
    afi: str = "same"
    dsfid: str = "same"
    unknown: list[str] = field(default_factory=list)
    refused: list[str] = field(default_factory=list)
    interrupted: bool = False
    not_written: int = 0
    tag_left: str | None = None  # how far it came before the tag left the field
    retries: int = 0  # frames sent again after a reply lost on the air
    not_done: list[int] = field(default_factory=list)
    stopped_by: str | None = None
    unverified: list[int] = field(default_factory=list)
    locked: list[int] = field(default_factory=list)
    already_locked: list[int] = field(default_factory=list)
    afi_lock: str = ""
    dsfid_lock: str = ""
    dropped: list[int] = field(default_factory=list)
    not_in_dump: list[int] = field(default_factory=list)


for _kind in (Tag, Block, SystemInfo, Notification):
    _kind.__repr__ = _hex_repr  # type: ignore[assignment]
