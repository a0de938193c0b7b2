"""The Reader on a field with a real one's faults, made by a proxy between it and qx4sim:
replies lost on the air, tags refusing multi-block commands, a tag leaving, tags colliding."""
import json
import logging
import os
import sys

import pytest

import qx4

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
from fault_proxy import FaultProxy  # noqa: E402

UID = "E004010012345678"
OTHER = "E007000187654321"


def numbered(i):
    return bytes([i & 0xFF]) * 4


@pytest.fixture
def field(tmp_path):
    """field(rule, tags=...) -> (reader, proxy): a Reader through a proxy with `rule`."""
    opened = []

    def start(rule=None, tags=((UID, 64),)):
        path = tmp_path / "field.json"
        path.write_text(json.dumps({"tags": [
            {"uid": uid, "blockSize": 4, "blocks": [{"data": numbered(i).hex()}
                                                    for i in range(count)]}
            for uid, count in tags]}))
        sim = qx4.Simulator(field=path, extra=["--listen", "0"])
        proxy = FaultProxy(sim.device, rule)
        reader = qx4.Reader(proxy.url)
        opened.append((reader, proxy, sim))
        return reader, proxy
    yield start
    for reader, proxy, sim in opened:
        reader.close()
        proxy.close()
        sim.stop()


def test_lost_replies_are_sent_again_and_logged(field, caplog):
    lost = []

    def every_other_read_lost(request):
        if request.code in (0x23, 0x21):
            lost.append(request)
            if len(lost) % 2:
                return ("lost", 1)
    reader, proxy = field(every_other_read_lost)
    with caplog.at_level(logging.WARNING, logger="qx4"):
        blocks = reader.read_blocks(0, 64, uid=UID)
        reader.write_blocks(3, b"\xA1\xA2\xA3\xA4", uid=UID)
    assert [b.data for b in blocks] == [numbered(i) for i in range(64)]
    assert reader.read_blocks(3, 1, uid=UID)[0].data == b"\xA1\xA2\xA3\xA4"
    assert reader.retries == 2  # the first multi-block read and the write
    assert caplog.text.count("NACK 1") == 2


def test_multi_block_refusals_fall_back(field):
    for verdict in (("absent", 5, 0x02), ("absent", 4), ("absent", 5, 0x0F)):
        def refuse(request, verdict=verdict):
            span = request.block_range()
            if request.code in (0x23, 0x24) and span[1] - span[0] >= 16:
                return verdict
        reader, proxy = field(refuse)
        assert [b.data for b in reader.read_blocks(0, 64, uid=UID)] == \
            [numbered(i) for i in range(64)]
        assert reader.write_blocks(0, b"\x5A" * 4 * 64, uid=UID) == 64
        assert {b.data for b in reader.read_blocks(0, 64, uid=UID)} == {b"\x5A" * 4}
        reader.close()


def test_a_tag_leaving_part_way_says_how_far_it_came(field):
    gone = []

    def single_blocks_and_gone_from_block_40(request):
        if request.code == 0x24:
            return ("absent", 5, 0x01)
        if request.code is not None and (gone or (request.code == 0x21 and
                                             request.block_range()[0] >= 40)):
            gone.append(request)
            return ("absent", 4)
    reader, proxy = field(single_blocks_and_gone_from_block_40)
    with pytest.raises(qx4.TagLeftError) as left:
        reader.write_blocks(0, b"\xC3" * 4 * 64, uid=UID)
    assert str(left.value) == "tag left after block 39: 40 written, 24 not written"
    assert left.value.blocks_written == 40 and left.value.code == 4
    assert len(gone) == 2  # the block that met no tag, and its retry


def test_a_collision_on_inventory_names_the_tags(field):
    def collide(request):
        if request.code == 0x01:
            return ("absent", 3)
    reader, proxy = field(collide, tags=((UID, 8), (OTHER, 8)))
    with pytest.raises(qx4.SeveralTagsError) as several:
        reader.read_blocks(0, 1)
    assert len(several.value.uids) == 2
