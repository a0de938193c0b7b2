"""NDEF from Python: typed records on bytes alone, and on a simulated tag with the
rules of qx4 ndef; the maker and the info flags of the system information."""

import json

import pytest

import qx4
from qx4 import ndef
from qx4.simulator import Simulator

SMALL = "E004010012345678"


def test_records_on_bytes_alone_both_ways():
    records = [
        ndef.UriRecord("https://www.example.com/x"),
        ndef.TextRecord("こんにちは", "ja", "UTF-16"),
        ndef.SmartPosterRecord((ndef.UriRecord("tel:+1"), ndef.TextRecord("call"))),
        ndef.MimeRecord("application/json", b'{"a":1}'),
        ndef.ExternalRecord("example.com:n", b"\x00\x01"),
        ndef.AbsoluteUriRecord("http://example.com/t"),
        ndef.EmptyRecord(),
        ndef.Record(1, "Zz", b"\xff", id=b"i"),
    ]
    data = ndef.encode_message(records)
    assert data[:3] == bytes([0x91, 0x01, 0x0E]) and data[4] == 0x02  # https://www.
    assert ndef.decode_message(data) == records
    with pytest.raises(qx4.NdefError):
        ndef.decode_message(data[:-1])
    with pytest.raises(ValueError):
        ndef.encode_message([ndef.MimeRecord("", b"")])
    with pytest.raises(TypeError):
        ndef.encode_message("https://example.com")  # type: ignore[arg-type]
    # A URI whose prefix code means nothing stays bytes.
    assert ndef.decode_message(bytes.fromhex("D1010255FF41")) == [
        ndef.Record(1, "U", b"\xffA")]
    memory = bytes.fromhex("E1402001") + bytes([3, len(data)]) + data + b"\xfe"
    content = ndef.decode_memory(memory.ljust(256, b"\0"))
    assert content.capability_container["memoryLength"] == 256
    assert content.records == records


@pytest.fixture
def reader(tmp_path):
    field = tmp_path / "field.json"
    field.write_text(json.dumps({"tags": [{"uid": SMALL, "blockSize": 4,
                                           "blocks": [{"data": "00000000"}] * 28}]}))
    with Simulator(field=field) as sim, qx4.Reader(sim.device, timeout=1.0) as r:
        yield r


def test_format_write_read_erase_on_a_tag(reader):
    with pytest.raises(qx4.NdefError, match="capability container"):
        reader.read_ndef()
    assert reader.format_ndef(uid=SMALL) == [0, 1]
    assert reader.read_ndef() == []
    records = [ndef.UriRecord("https://example.com"), ndef.TextRecord("hi", "de")]
    assert reader.write_ndef(records, uid=SMALL) == [1, 2, 3, 4, 5, 6, 7]
    assert reader.read_ndef(uid=SMALL) == records
    content = reader.read_ndef_content()
    assert content.message == ndef.encode_message(records)
    with pytest.raises(qx4.NdefError, match="NDEF area") as refused:
        reader.write_ndef([ndef.TextRecord("x" * 200)], uid=SMALL)
    assert refused.value.written == []
    assert reader.erase_ndef(uid=SMALL) == [1]
    assert reader.read_ndef() == []
    with pytest.raises(qx4.DumpError):
        reader.read_ndef(uid="E0040100DEADBEEF")


def test_system_info_names_the_maker_and_the_flags(reader):
    info = reader.system_info(SMALL)
    assert info.manufacturer == "NXP Semiconductors" and info.manufacturer_code == 4
    assert info.has_dsfid and info.has_afi and info.has_memory_size and info.has_ic_reference
