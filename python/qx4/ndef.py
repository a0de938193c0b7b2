"""NDEF records and messages on bytes alone, the same code as ``qx4 ndef`` (through
libqx4dump): build a message from typed records, read records from a message or from a
tag's memory (a dump's blocks back to back), without a reader::

    import qx4.ndef as ndef

    data = ndef.encode_message([ndef.UriRecord("https://example.com"),
                                ndef.TextRecord("hello", language="en")])
    assert ndef.decode_message(data)[0] == ndef.UriRecord("https://example.com")
"""

from __future__ import annotations

import ctypes
from collections.abc import Sequence
from dataclasses import dataclass, field
from typing import Any, Union

from . import _library as L
from .errors import NdefError


@dataclass(frozen=True)
class UriRecord:
    """Well-known type "U"."""

    uri: str
    id: bytes = b""


@dataclass(frozen=True)
class TextRecord:
    """Well-known type "T": ``encoding`` "UTF-8" or "UTF-16"."""

    text: str
    language: str = "en"
    encoding: str = "UTF-8"
    id: bytes = b""


@dataclass(frozen=True)
class SmartPosterRecord:
    """Well-known type "Sp": a message inside a record (a URI, titles, ...)."""

    records: tuple[NdefRecord, ...]
    id: bytes = b""


@dataclass(frozen=True)
class MimeRecord:
    """A MIME media record: ``mime_type`` such as "text/vcard", the bytes in ``data``."""

    mime_type: str
    data: bytes = b""
    id: bytes = b""


@dataclass(frozen=True)
class ExternalRecord:
    """An NFC Forum external type, "domain:type"."""

    type: str
    data: bytes = b""
    id: bytes = b""


@dataclass(frozen=True)
class AbsoluteUriRecord:
    """A record whose type is an absolute URI."""

    uri: str
    data: bytes = b""
    id: bytes = b""


@dataclass(frozen=True)
class EmptyRecord:
    """A record of TNF 0: no type, no payload."""


@dataclass(frozen=True)
class Record:
    """Any other record (and one whose payload its type cannot carry), as stored:
    ``tnf`` 0 to 5, ``type`` as text."""

    tnf: int
    type: str
    payload: bytes = b""
    id: bytes = b""


NdefRecord = Union[UriRecord, TextRecord, SmartPosterRecord, MimeRecord, ExternalRecord,
                   AbsoluteUriRecord, EmptyRecord, Record]


@dataclass(frozen=True)
class NdefContent:
    """What a tag's memory holds: its capability container (as ``qx4 --json ndef
    read`` shows it), whether it has an NDEF message, the message's bytes and records."""

    capability_container: dict[str, Any]
    has_message: bool
    message: bytes = b""
    records: list[NdefRecord] = field(default_factory=list)


def _described(record: NdefRecord) -> dict[str, Any]:
    entry: dict[str, Any]
    if isinstance(record, UriRecord):
        entry = {"uri": record.uri}
    elif isinstance(record, TextRecord):
        entry = {"text": record.text, "language": record.language, "encoding": record.encoding}
    elif isinstance(record, SmartPosterRecord):
        entry = {"smartPoster": [_described(r) for r in record.records]}
    elif isinstance(record, MimeRecord):
        entry = {"mime": record.mime_type, "data": record.data.hex()}
    elif isinstance(record, ExternalRecord):
        entry = {"external": record.type, "data": record.data.hex()}
    elif isinstance(record, AbsoluteUriRecord):
        entry = {"absoluteUri": record.uri, "data": record.data.hex()}
    elif isinstance(record, EmptyRecord):
        return {"empty": True}
    elif isinstance(record, Record):
        entry = {"tnf": record.tnf, "type": record.type, "payload": record.payload.hex()}
    else:
        raise TypeError(f"not an NDEF record: {type(record).__name__}")
    if record.id:
        entry["id"] = record.id.hex()
    return entry


def _record(decoded: dict[str, Any]) -> NdefRecord:
    ident = bytes.fromhex(decoded["id"])
    payload = bytes.fromhex(decoded["payload"])
    kind = decoded["kind"]
    if "error" in decoded or kind == "other":
        return Record(decoded["tnf"], decoded["type"], payload, ident)
    if kind == "uri":
        return UriRecord(decoded["uri"], ident)
    if kind == "text":
        return TextRecord(decoded["text"], decoded["language"], decoded["encoding"], ident)
    if kind == "smart-poster":
        return SmartPosterRecord(tuple(_record(r) for r in decoded["records"]), ident)
    if kind == "mime":
        return MimeRecord(decoded["type"], payload, ident)
    if kind == "external":
        return ExternalRecord(decoded["type"], payload, ident)
    if kind == "absolute-uri":
        return AbsoluteUriRecord(decoded["type"], payload, ident)
    return EmptyRecord()


def records_from_json(decoded: list[dict[str, Any]]) -> list[NdefRecord]:
    """Typed records from the JSON ``qx4 --json ndef read`` (and the gateway) give."""
    return [_record(r) for r in decoded]


def _call(function: str, *args: Any) -> str:
    result, error = ctypes.c_void_p(), ctypes.c_void_p()
    ok = getattr(L.dumps(), function)(*args, ctypes.byref(result), ctypes.byref(error))
    text, reason = L.take_text(result), L.take_text(error)
    if not ok or text is None:
        raise NdefError(reason or f"{function} failed")
    return text


def encode_message(records: Sequence[NdefRecord]) -> bytes:
    """The NDEF message of ``records``, in order (MB, ME and SR set as they fall).
    ValueError for a record no message can hold."""
    if isinstance(records, (str, bytes)) or not isinstance(records, Sequence):
        raise TypeError("records must be a list of NDEF records")
    import json  # loaded when first used: import qx4 stays quick

    described = json.dumps([_described(r) for r in records])
    try:
        return bytes.fromhex(_call("qx4ndef_build_message", described.encode("utf-8")))
    except NdefError as error:
        raise ValueError(str(error)) from None


def decode_message(data: bytes) -> list[NdefRecord]:
    """The records of an NDEF message (chunks joined). NdefError when it is malformed."""
    import json

    data = bytes(data)
    buffer = (ctypes.c_ubyte * max(len(data), 1)).from_buffer_copy(data or b"\0")
    return records_from_json(json.loads(_call("qx4ndef_parse_message", buffer, len(data))))


def content_from_json(decoded: dict[str, Any]) -> NdefContent:
    """:class:`NdefContent` from the JSON of ``qx4 --json ndef read``."""
    return NdefContent(decoded["capabilityContainer"], bool(decoded["ndef"]),
                       bytes.fromhex(decoded.get("message", "")),
                       records_from_json(decoded.get("records", [])))


def decode_memory(memory: bytes) -> NdefContent:
    """The NDEF of a tag's memory from byte 0 (capability container, TLVs, message).
    NdefError when it holds none or is malformed."""
    import json

    memory = bytes(memory)
    buffer = (ctypes.c_ubyte * max(len(memory), 1)).from_buffer_copy(memory or b"\0")
    return content_from_json(json.loads(_call("qx4ndef_parse_memory", buffer, len(memory))))
