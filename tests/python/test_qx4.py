"""The Python package against qx4sim: every public method once, errors mapped to their
exceptions, notifications from auto-scan, dump and restore, one Reader per process."""
import ctypes.util
import json
import os
import shutil
import subprocess
import sys

import pytest

import qx4
from qx4.simulator import Simulator

TAG_ONE = "E004010012345678"
TAG_TWO = "E007000187654321"
MYD = "E005109876543210"


@pytest.fixture
def sim():
    with Simulator() as simulator:
        yield simulator


@pytest.fixture
def reader(sim):
    with qx4.Reader(sim.device, timeout=1.0) as r:
        yield r


def test_reader_commands(reader):
    assert reader.version() == "QX4SIM Ver1.00"
    assert reader.model()
    reader.carrier(True)
    assert reader.power_state() in (0, 1)
    assert reader.error_status() == 0
    reader.leds(1, 0, 0)
    reader.buzzer(5, 1)
    reader.io_write(0x11, 0x22)
    assert isinstance(reader.io_read(), int)
    reader.eeprom_write(40, b"\x01\x02\x03\x04")
    assert reader.eeprom_read(40, 2) == b"\x01\x02\x03\x04"
    reader.param_write(3, 7)
    assert reader.param_read(3) == 7
    reader.set_operation_mode(0, 0, 0x40, 10)
    assert reader.operation_mode()[0] == 0
    reader.set_tag_mode(reader.tag_mode())
    reader.set_uid_register(TAG_ONE)
    assert qx4.uid_text(reader.uid_register()) == TAG_ONE
    reader.set_afi_register(0x42)
    assert reader.afi_register() == 0x42
    with pytest.raises(qx4.SeveralTagsError, match="leave only one"):
        reader.write_tag_data(b"hi")  # the request names no tag: which one would it be?
    reader.simple_read()
    reader.eeprom_init()
    reader.restart()
    reader.power_down()
    assert qx4.library_version() == qx4.__version__


def test_tag_commands(reader):
    tag = reader.inventory()
    assert tag.uid_hex == TAG_ONE and tag.uid == qx4.parse_uid(TAG_ONE)
    assert [qx4.uid_text(u) for u in reader.scan()] == [TAG_ONE, TAG_TWO, MYD]
    assert reader.uid_list()[1] == qx4.parse_uid(TAG_TWO)
    info = reader.system_info(TAG_TWO)
    assert (info.block_count, info.block_size, info.afi) == (32, 8, 2)
    data = bytes(range(0xF0, 0x100)) * 4  # 0xFF bytes too; 8 blocks of 8
    assert reader.write_blocks(4, data, uid=TAG_TWO) == 8
    blocks = reader.read_blocks(0, 32, uid=TAG_TWO, security=True)
    assert len(blocks) == 32 and all(len(b.data) == 8 for b in blocks)
    assert b"".join(b.data for b in blocks[4:12]) == data
    reader.lock_block(30, uid=TAG_TWO)
    assert reader.read_blocks(30, 1, uid=TAG_TWO, security=True)[0].locked
    reader.write_afi(0x12, uid=TAG_ONE)
    reader.write_dsfid(0x34, uid=TAG_ONE)
    reader.lock_afi(uid=TAG_ONE)
    reader.lock_dsfid(uid=TAG_ONE)
    assert reader.system_info(TAG_ONE).afi == 0x12
    reader.myd_write(2, b"\x01\x02" + bytes(6), uid=MYD)
    assert reader.myd_read(2, uid=MYD) == b"\x01\x02" + bytes(6)
    with pytest.raises(ValueError, match="holds 8 bytes, not 2"):
        reader.myd_write(2, b"\x01\x02", uid=MYD)  # never padded with zeros
    reader.myd_write_byte(2, 7, 0xAA, uid=MYD)
    assert reader.myd_write_reread(3, b"xy" + bytes(6), uid=MYD) == b"xy" + bytes(6)
    reader.select(TAG_ONE)
    reader.reset_to_ready(TAG_ONE)
    reader.stay_quiet(TAG_ONE)
    assert reader.inventory().uid_hex == TAG_TWO
    reader.reset_to_ready(TAG_ONE)


def test_errors_map_to_their_exceptions(sim, reader):
    with pytest.raises(qx4.NackError) as nack:
        reader.read_blocks(200, uid=TAG_ONE)
    assert (nack.value.code, nack.value.detail) == (5, 0x10)
    assert "not available" in nack.value.text
    with pytest.raises(qx4.NackError) as locked:
        reader.lock_block(0, uid=TAG_ONE)
        reader.lock_block(0, uid=TAG_ONE)
    assert locked.value.detail == 0x11
    with pytest.raises(ValueError):
        reader.leds(256, 0, 0)
    with pytest.raises(ValueError):
        reader.read_blocks(0, uid="E00401001234567Z")
    with pytest.raises(ValueError):
        reader.write_blocks(0, b"odd", uid=TAG_ONE)
    reader.version()  # after the NACKs the link checks its step once
    sim._process.send_signal(19)  # SIGSTOP: silent
    try:
        reader.timeout = 0.15
        with pytest.raises(qx4.NoAnswerError):
            reader.version()
    finally:
        sim._process.send_signal(18)
    sim.stop()  # the device goes away
    with pytest.raises(qx4.ReaderGoneError):
        for _ in range(20):
            reader.version()
    assert not reader.is_ok


def test_notifications_from_auto_scan(reader):
    reader.set_operation_mode(1, 0, 0x78, 0)
    seen = list(reader.notifications(timeout=0.8))
    reader.set_operation_mode(0, 0, 0x78, 0)
    assert seen
    kinds = {n.kind for n in seen}
    assert kinds <= {"data", "uid-data"}
    uids = {qx4.uid_text(n.uid) for n in seen if n.uid} | {n.data.decode() for n in seen if not n.uid}
    assert TAG_ONE in uids


def test_dump_restore_round_trip(reader, tmp_path):
    with pytest.raises(qx4.DumpError) as several:
        reader.dump()
    assert "3 tags" in str(several.value)
    with pytest.raises(qx4.DumpError) as absent:
        reader.dump("E0040100DEADBEEF")
    # Named as what was tried ("reading the system information failed: no tag answered").
    assert "no tag answered" in str(absent.value)
    dump = reader.dump(TAG_ONE)
    assert dump["format"] == 2 and dump["tags"][0]["uid"] == TAG_ONE
    reader.write_blocks(5, b"\xEE" * 8, uid=TAG_ONE)
    report = reader.restore(dump, uid=TAG_ONE)
    assert report.complete and report.written == [5, 6] and report.verified == 2
    assert reader.restore(dump, uid=TAG_ONE).written == []
    path = tmp_path / "d.json"
    path.write_text(json.dumps(dump))
    with pytest.raises(qx4.DumpError) as refused:
        reader.restore(path, uid=TAG_TWO)
    assert "the dump is of tag " + TAG_ONE in str(refused.value)
    # Locks: named as made, and a second run finds them in place, which is done.
    dump["tags"][0].update(afiLocked=True, dsfidLocked=True)
    dump["tags"][0]["blocks"][3]["locked"] = True
    first = reader.restore(dump, uid=TAG_ONE, locks=True)
    assert (first.locked, first.afi_lock, first.dsfid_lock) == ([3], "locked", "locked")
    again = reader.restore(dump, uid=TAG_ONE, locks=True)
    assert again.complete and (again.afi_lock, again.dsfid_lock) == ("already-locked",) * 2


def test_blocks_of_another_size_are_an_error_never_data(tmp_path):
    field = tmp_path / "plain.json"
    field.write_text(json.dumps({"tags": [{
        "uid": TAG_TWO, "blockSize": 8, "simulation": {"systemInfo": False},
        "blocks": [{"data": "0011223344556677"}] * 4}]}))
    with Simulator(field=field) as sim, qx4.Reader(sim.device) as reader:
        with pytest.raises(qx4.BadReplyError, match="not that size"):
            reader.read_blocks(0, 2, uid=TAG_TWO)  # assumes 4-byte blocks


def test_one_reader_per_process(sim, reader):
    with pytest.raises(RuntimeError, match="another qx4.Reader is open"):
        qx4.Reader(device=sim.device).open()


def test_library_not_found_says_where_it_looked(tmp_path):
    if ctypes.util.find_library("QX4DRV"):
        pytest.skip("libQX4DRV is installed on this machine: the loader finds it")
    # A copy of the package away from the build tree, pointed at a library that is not there.
    shutil.copytree(os.path.dirname(qx4.__file__), tmp_path / "lib" / "a" / "b" / "qx4")
    code = ("import qx4\n"
            "try:\n    qx4.Reader()\nexcept qx4.LibraryNotFound as e:\n    print(e)\n")
    env = dict(os.environ, QX4DRV_LIBRARY=str(tmp_path / "nothing.so"),
               PYTHONPATH=str(tmp_path / "lib" / "a" / "b"))
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env,
                         cwd=tmp_path)
    assert "libQX4DRV.so.1 not found; set QX4DRV_LIBRARY" in out.stdout, out.stderr
    assert str(tmp_path / "nothing.so") in out.stdout
