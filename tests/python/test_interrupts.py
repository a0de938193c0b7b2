"""Ctrl+C (SIGINT) in the middle of reader commands: it always reaches the program as
KeyboardInterrupt, never as another error or not at all, and what was done is known."""
import json
import os
import signal
import threading

import pytest

import qx4

TAG_ONE = "E004010012345678"  # 28 blocks of 4
TAG_TWO = "E007000187654321"  # 32 blocks of 8
SINGLE = "E004010000000077"


def interrupt_after(seconds):
    timer = threading.Timer(seconds, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    return timer


@pytest.fixture
def paced():
    """A reader at 9600 baud: every frame takes long enough to be interrupted in."""
    with qx4.Simulator(baud=9600, log=True) as sim, qx4.Reader(sim.device) as reader:
        yield sim, reader


def test_ctrl_c_during_reads_is_a_keyboard_interrupt(paced):
    _, reader = paced
    expected = reader.read_blocks(0, 28, uid=TAG_ONE)
    for delay in (0.05, 0.11, 0.17, 0.23, 0.29):
        timer = interrupt_after(delay)
        with pytest.raises(KeyboardInterrupt):
            for _ in range(100):
                reader.read_blocks(0, 4, uid=TAG_ONE)
        timer.join()
        # Neither the tag's geometry nor the link suffered.
        assert reader.read_blocks(0, 28, uid=TAG_ONE) == expected
        assert reader.geometry(TAG_ONE) == qx4.Geometry(4, 28)


@pytest.fixture
def one_block_writes(tmp_path):
    """A tag without Write Multiple Blocks: a frame per block, at 9600 baud."""
    field = tmp_path / "single.json"
    field.write_text(json.dumps({"format": 2, "tags": [{
        "type": "iso15693", "uid": SINGLE, "blockSize": 8, "blockCount": 64,
        "simulation": {"multiBlock": False},
        "blocks": [{"data": "00" * 8, "locked": False}] * 64}]}))
    with qx4.Simulator(field=field, baud=9600, log=True) as sim, \
            qx4.Reader(sim.device) as reader:
        yield sim, reader


def test_ctrl_c_stops_a_write_between_frames_knowing_what_it_wrote(one_block_writes):
    sim, reader = one_block_writes
    reader.geometry(SINGLE)
    data = bytes(range(1, 65)) * 8
    timer = interrupt_after(0.4)
    with pytest.raises(KeyboardInterrupt) as stopped:
        reader.write_blocks(0, data, uid=SINGLE)
    timer.join()
    written = stopped.value.blocks_written
    assert 0 < written < 64
    blocks = [b.data for b in reader.read_blocks(0, 64, uid=SINGLE)]
    assert blocks[:written] == [data[i * 8:(i + 1) * 8] for i in range(written)]
    assert blocks[written:] == [bytes(8)] * (64 - written)  # not one frame more


def test_ctrl_c_during_a_restore_keeps_its_report(one_block_writes):
    _, reader = one_block_writes
    dump = reader.dump(SINGLE)
    reader.write_blocks(0, b"\xEE" * 512, uid=SINGLE)
    timer = interrupt_after(0.5)  # a frame per block at 9600 baud: several seconds
    with pytest.raises(KeyboardInterrupt) as stopped:
        reader.restore(dump, uid=SINGLE)
    timer.join()
    report = stopped.value.report
    assert report.interrupted and not report.complete
    # It stopped between frames: what it says it wrote is on the tag, nothing more.
    blocks = [b["data"] for b in reader.dump(SINGLE)["tags"][0]["blocks"]]
    assert blocks == ["00" * 8 if b in report.written else "EE" * 8 for b in range(64)]
    assert len(report.written) < 64
    # What it never tried is "not done", not a failure.
    assert not [f for f in report.failures if "interrupted" in str(f["cause"])]


def test_ctrl_c_stops_a_dump_between_frames(one_block_writes):
    _, reader = one_block_writes
    reader.dump(SINGLE)
    timer = interrupt_after(0.3)  # 64 single reads at 9600 baud take several seconds
    with pytest.raises(KeyboardInterrupt):
        reader.dump(SINGLE)
    timer.join()
    # The interruption is over: the next dump goes to the end.
    assert len(reader.dump(SINGLE)["tags"][0]["blocks"]) == 64


def test_ctrl_c_while_a_notification_is_handed_over_is_not_lost(monkeypatch):
    # Where a Ctrl+C lands is up to chance; here it lands, every time, in the middle of
    # handing a notification over from the library.
    def interrupted(*args, **kwargs):
        raise KeyboardInterrupt

    with qx4.Simulator(scan_period=0.05) as sim, qx4.Reader(sim.device) as reader:
        reader.set_operation_mode(1, 0, 0x78, 0)
        monkeypatch.setattr(qx4.reader, "Notification", interrupted)
        with pytest.raises(KeyboardInterrupt):
            for _ in reader.notifications(timeout=5):
                pass
        monkeypatch.undo()
        reader.set_operation_mode(0, 0, 0x78, 0)
        assert reader.version()
