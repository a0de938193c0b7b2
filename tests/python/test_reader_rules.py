"""The Reader's rules against qx4sim: how it is opened, what it refuses before sending,
which tag a write reaches, what a failure carries, threads, and a reader going away."""
import gc
import multiprocessing
import os
import pickle
import socket
import subprocess
import sys
import threading
import time

import pytest

import qx4

TAG_ONE = "E004010012345678"  # 28 blocks of 4
TAG_TWO = "E007000187654321"  # 32 blocks of 8
MYD = "E005109876543210"
WRITES = {0x21, 0x22, 0x24, 0x27, 0x28, 0x29, 0x2A, 0xB1, 0xB2, 0xB3}


def requests(sim):
    """The frames the simulated reader received, as bytes."""
    return [bytes.fromhex(line[3:]) for line in sim.frames if line.startswith("<- ")]


def settle(sim, reader):
    """Every frame sent so far is in the simulator's log: a new version request is the last."""
    def versions(frames):
        return sum(1 for f in frames if f[2:5] == bytes([0x4F, 0x02, 0x90]))
    before = versions(requests(sim))
    reader.version()
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        frames = requests(sim)
        if versions(frames) > before and frames[-1][2:5] == bytes([0x4F, 0x02, 0x90]):
            return frames
        time.sleep(0.01)
    raise AssertionError("the version request never reached the log")


def tag_writes(frames):
    return [f for f in frames if (f[2] == 0x78 and f[4] in WRITES) or f[2] == 0x4A]


@pytest.fixture
def sim():
    with qx4.Simulator(log=True) as simulator:
        yield simulator


@pytest.fixture
def reader(sim):
    with qx4.Reader(sim.device, timeout=1.0) as r:
        yield r


def test_opened_by_device_path_com_number_and_url_leaving_the_environment(sim, monkeypatch):
    monkeypatch.setenv("QX4_COM3", "/dev/null/not-a-reader")
    monkeypatch.delenv("QX4_COM5", raising=False)
    before = dict(os.environ)
    reader = qx4.Reader(sim.device)  # opened at once, as pyserial's Serial(port) is
    assert reader.is_open and reader.version() == "QX4SIM Ver1.00"
    reader.close()
    reader.close()
    assert dict(os.environ) == before
    monkeypatch.setenv("QX4_COM9", sim.device)
    for port in (9, "COM9"):
        with qx4.Reader(port) as by_number:
            assert by_number.version()
    with pytest.raises(qx4.ReaderGoneError, match=r"cannot open COM3 \(/dev/null/not-a-reader\)"):
        qx4.Reader(3)
    assert not qx4.Reader().is_open  # no port: opened by open() or with
    dropped = qx4.Reader(sim.device)
    del dropped  # closes itself, as a file object does
    gc.collect()
    with qx4.Reader(sim.device) as again:
        assert again.version()


def test_opened_over_tcp():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    with qx4.Simulator(extra=("--listen", f"127.0.0.1:{port}")) as sim:
        with qx4.Reader(f"tcp://127.0.0.1:{port}") as reader:
            assert reader.read_blocks(0, 1, uid=TAG_ONE)[0].data == b"QX4 "


def test_wrong_types_and_ranges_refused_before_any_frame(sim, reader):
    sent = len(settle(sim, reader))
    for call, kind, words in [
            (lambda: reader.read_blocks(256, uid=TAG_ONE), ValueError, "256 is not 0 to 255"),
            (lambda: reader.read_blocks(-1, uid=TAG_ONE), ValueError, "-1 is not 0 to 255"),
            (lambda: reader.read_blocks(250, 7, uid=TAG_ONE), ValueError, "last block 256"),
            (lambda: reader.read_blocks(0, 257, uid=TAG_ONE), ValueError, "count must be 1 to 256"),
            (lambda: reader.read_blocks(0, 0, uid=TAG_ONE), ValueError, "count"),
            (lambda: reader.read_blocks("0", uid=TAG_ONE), TypeError, "must be an int, not str"),
            (lambda: reader.read_blocks(1.0, uid=TAG_ONE), TypeError, "not float"),
            (lambda: reader.write_blocks(256, b"abcd", uid=TAG_ONE), ValueError, "256"),
            (lambda: reader.write_blocks(255, b"abcdefgh", uid=TAG_ONE, block_size=4),
             ValueError, "last block 256"),
            (lambda: reader.write_blocks(0, b"abcde", uid=TAG_ONE, block_size=4), ValueError,
             "5 bytes are not whole blocks of 4"),
            (lambda: reader.write_blocks(0, "abcd", uid=TAG_ONE), TypeError, "bytes, not str"),
            (lambda: reader.lock_block(256, uid=TAG_ONE), ValueError, "256"),
            (lambda: reader.myd_write(-1, bytes(8), uid=MYD), ValueError, "-1"),
            (lambda: reader.write_afi(0x100, uid=TAG_ONE), ValueError, "AFI must be 0 to 255"),
            (lambda: reader.read_blocks(0, uid="E00401001234567Z"), ValueError, "16 hex digits"),
            (lambda: reader.read_blocks(0, uid=1234), TypeError, "not int"),
            (lambda: reader.leds(True, 0, 0), TypeError, "not bool"),
    ]:
        with pytest.raises(kind, match=words):
            call()
    assert len(settle(sim, reader)) == sent + 1  # the version request alone
    for bad in ({"timeout": "2"}, {"timeout": -1}, {"baudrate": 115200}, {"port": 2.5}):
        with pytest.raises((TypeError, ValueError)):
            qx4.Reader(**bad)


def test_writes_without_uid_refuse_several_tags_and_name_them(sim, reader):
    before = reader.read_blocks(0, 3, uid=TAG_ONE)
    for write in (lambda: reader.write_blocks(0, b"XXXX"), lambda: reader.lock_block(1),
                  lambda: reader.write_afi(7), lambda: reader.lock_afi(),
                  lambda: reader.write_dsfid(7), lambda: reader.lock_dsfid(),
                  lambda: reader.myd_write(1, bytes(8)), lambda: reader.myd_write_byte(1, 0, 1),
                  lambda: reader.write_tag_data(b"XY")):
        with pytest.raises(qx4.SeveralTagsError) as several:
            write()
        assert [qx4.uid_text(u) for u in several.value.uids] == [TAG_ONE, TAG_TWO, MYD]
        assert TAG_TWO in str(several.value)
    assert tag_writes(settle(sim, reader)) == []
    assert reader.read_blocks(0, 3, uid=TAG_ONE) == before
    sim.command(f"leave {TAG_TWO}")
    sim.command(f"leave {MYD}")
    assert reader.write_blocks(3, b"ONLY") == 1  # the only tag there
    assert reader.read_blocks(3, uid=TAG_ONE)[0].data == b"ONLY"


def test_option_flag_reaches_every_write_and_lock(sim, reader):
    reader.write_blocks(1, b"abcdefgh" * 2, uid=TAG_TWO, option=True)
    reader.write_blocks(4, b"abcd", uid=TAG_ONE, option=True)
    reader.write_afi(5, uid=TAG_ONE, option=True)
    reader.write_dsfid(6, uid=TAG_ONE, option=True)
    reader.lock_block(20, uid=TAG_ONE, option=True)
    reader.lock_afi(uid=TAG_ONE, option=True)
    reader.lock_dsfid(uid=TAG_ONE, option=True)
    writes = tag_writes(settle(sim, reader))
    assert sorted({f[4] for f in writes}) == [0x21, 0x22, 0x24, 0x27, 0x28, 0x29, 0x2A]
    for frame in writes:  # ... mode byte, 8 UID bytes, ETX, sum, CR
        assert frame[-12] == 0x11, frame.hex(" ")
    reader.write_blocks(5, b"abcd", uid=TAG_ONE)
    assert tag_writes(settle(sim, reader))[-1][-12] == 0x01
    dump = reader.dump(TAG_TWO)
    reader.write_blocks(8, b"changed!" * 3, uid=TAG_TWO)
    sent = len(tag_writes(settle(sim, reader)))
    assert reader.restore(dump, uid=TAG_TWO, option=True).written == [8, 9, 10]
    restored = tag_writes(settle(sim, reader))[sent:]
    assert restored and all(frame[-12] == 0x11 for frame in restored)


def test_dump_writes_nothing_unless_asked(sim, reader):
    dump = reader.dump(TAG_ONE)
    assert dump["tags"][0]["uid"] == TAG_ONE
    assert tag_writes(settle(sim, reader)) == []
    assert len(reader.dump(TAG_TWO, block_count=3)["tags"][0]["blocks"]) == 3
    with pytest.raises(ValueError, match="block_size must be 1 to 32"):
        reader.dump(TAG_TWO, block_size=33)


def test_block_geometry_learnt_once_per_tag(sim, reader):
    for _ in range(3):
        reader.read_blocks(0, 1, uid=TAG_ONE)
        reader.read_blocks(0, 1, uid=TAG_TWO)
    assert [f[4] for f in settle(sim, reader) if f[2] == 0x78].count(0x2B) == 2
    assert reader.geometry(TAG_TWO) == qx4.Geometry(8, 32)
    # An override reads as asked; a size the tag does not have is an error, never data.
    assert len(reader.read_blocks(0, 2, uid=TAG_ONE, block_size=4)[1].data) == 4
    with pytest.raises(qx4.BadReplyError):
        reader.read_blocks(0, 2, uid=TAG_TWO, block_size=4)


def test_failures_carry_what_was_done_and_pickle(reader):
    reader.lock_block(31, uid=TAG_TWO)
    data = bytes(range(256))
    with pytest.raises(qx4.NackError) as failed:
        reader.write_blocks(0, data, uid=TAG_TWO)  # 30 blocks in the first frame
    assert failed.value.blocks_written == 30 and failed.value.detail == 0x12
    assert b"".join(b.data for b in reader.read_blocks(0, 30, uid=TAG_TWO)) == data[:240]

    dump = reader.dump(TAG_ONE)
    reader.write_blocks(5, b"\xEE" * 8, uid=TAG_ONE)
    reader.lock_block(6, uid=TAG_ONE)
    with pytest.raises(qx4.DumpError) as restore:
        reader.restore(dump, uid=TAG_ONE)
    report = restore.value.report
    assert report.written == [5] and report.skipped_locked == [6] and not report.complete

    with pytest.raises(qx4.SeveralTagsError) as several:
        reader.lock_block(1)
    for error in (failed.value, restore.value, several.value,
                  qx4.NoAnswerError("x", function="QX4GetROMVersion", blocks_written=3)):
        copy = pickle.loads(pickle.dumps(error))
        assert type(copy) is type(error) and str(copy) == str(error)
        assert copy.__dict__ == error.__dict__


def test_two_threads_share_one_reader(reader):
    expected = reader.read_blocks(0, 3, uid=TAG_ONE)
    problems = []

    def reads():
        try:
            for _ in range(40):
                assert reader.read_blocks(0, 3, uid=TAG_ONE) == expected
        except BaseException as error:  # noqa: B902 - reported below
            problems.append(error)

    def versions():
        try:
            for _ in range(40):
                assert reader.version() == "QX4SIM Ver1.00"
                assert reader.system_info(TAG_TWO).block_size == 8
        except BaseException as error:  # noqa: B902
            problems.append(error)

    threads = [threading.Thread(target=reads), threading.Thread(target=versions)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert problems == []


def test_notifications_end_when_the_reader_goes():
    sim = qx4.Simulator(scan_period=0.1)
    try:
        with qx4.Reader(sim.device) as reader:
            reader.set_operation_mode(1, 0, 0x78, 0)
            seen = []
            with pytest.raises(qx4.ReaderGoneError, match="went away"):
                for notification in reader.notifications(timeout=20):
                    seen.append(notification)
                    if len(seen) == 1:
                        sim.stop()
            assert seen
    finally:
        sim.stop()


def test_a_late_answer_to_an_earlier_reader_is_never_taken():
    with qx4.Simulator(delay=0.6) as sim:
        with qx4.Reader(sim.device, timeout=2) as reader:
            reader.write_blocks(5, b"FIVESIX!", uid=TAG_ONE, block_size=4)
        with qx4.Reader(sim.device, timeout=0.3) as reader:
            with pytest.raises(qx4.NoAnswerError):
                reader.read_blocks(0, 2, uid=TAG_ONE, block_size=4)
        with qx4.Reader(sim.device, timeout=2) as reader:  # the late answer is on its way
            blocks = reader.read_blocks(5, 2, uid=TAG_ONE, block_size=4)
            assert [b.data for b in blocks] == [b"FIVE", b"SIX!"]


def test_nack_texts_need_only_the_driver(tmp_path):
    code = ("import qx4\n"
            "with qx4.Simulator() as sim, qx4.Reader(sim.device) as reader:\n"
            "    try:\n"
            f"        reader.read_blocks(200, uid='{TAG_ONE}')\n"
            "    except qx4.NackError as error:\n"
            "        print(error.code, error.detail, error.text)\n"
            "    print(qx4._library._dumps is None)\n")
    env = dict(os.environ, QX4DUMP_LIBRARY=str(tmp_path / "missing.so"))
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                         env=env, check=True).stdout.splitlines()
    assert out[0].startswith("5 16 ") and "not available" in out[0]
    assert out[1] == "True"


def test_notification_iterators_each_get_every_frame_and_check_at_once():
    with qx4.Simulator(scan_period=0.05) as sim, qx4.Reader(sim.device) as reader:
        with pytest.raises(ValueError):
            reader.notifications(timeout=-1)  # at the call, not at the first next()
        never_started = reader.notifications()
        reader.set_operation_mode(1, 0, 0x78, 0)
        first, second = reader.notifications(timeout=10), reader.notifications(timeout=1.5)
        next(first)
        next(second)
        first.close()  # the other one goes on receiving
        assert len(list(second)) >= 5
        del never_started
        reader.set_operation_mode(0, 0, 0x78, 0)
        reader.close()
        with pytest.raises(qx4.ReaderGoneError, match="not open"):
            reader.notifications()


def test_opening_by_name_leaves_the_programs_own_port_variables_alone(monkeypatch):
    # A server that takes the connection and never agrees to RFC 2217: the open waits
    # for it, then fails. Meanwhile another thread watches the environment.
    monkeypatch.setenv("QX4_COM3", "/dev/ttyUSB7")
    seen = set()
    with socket.socket() as server:
        server.bind(("127.0.0.1", 0))
        server.listen()
        url = f"rfc2217://127.0.0.1:{server.getsockname()[1]}"
        opening = threading.Event()

        def watch():
            while not opening.is_set():
                seen.add(os.environ.get("QX4_COM3"))
                seen.add(("QX4_COM0", os.environ.get("QX4_COM0")))
                seen.add(subprocess.run(["/usr/bin/printenv", "QX4_COM3"], capture_output=True,
                                        text=True).stdout.strip())

        watcher = threading.Thread(target=watch)
        watcher.start()
        try:
            with pytest.raises(qx4.ReaderGoneError, match="cannot open rfc2217"):
                qx4.Reader(url)
        finally:
            opening.set()
            watcher.join()
    assert seen == {"/dev/ttyUSB7", ("QX4_COM0", None)}
    assert os.environ["QX4_COM3"] == "/dev/ttyUSB7" and "QX4_COM0" not in os.environ


def _child_uses(reader, device, results):
    for attempt in (reader.version, lambda: qx4.Reader(device)):
        try:
            attempt()
            results.put("worked")
        except (qx4.QX4Error, RuntimeError) as error:
            results.put(type(error).__name__)


def test_a_forked_child_never_touches_the_parents_port(sim, reader):
    sent = len(settle(sim, reader))
    fork = multiprocessing.get_context("fork")
    results = fork.SimpleQueue()
    child = fork.Process(target=_child_uses, args=(reader, sim.device, results))
    child.start()
    child.join()
    assert [results.get(), results.get()] == ["ReaderGoneError", "RuntimeError"]
    assert len(settle(sim, reader)) == sent + 1  # the parent's version request alone
    assert reader.read_blocks(0, uid=TAG_ONE)[0].data == b"QX4 "


def test_dump_failures_speak_python(reader, tmp_path):
    with pytest.raises(FileNotFoundError, match="tag.jsn"):
        reader.restore(str(tmp_path / "tag.jsn"), uid=TAG_ONE)
    with pytest.raises(qx4.DumpError) as absent:
        reader.dump("E004010099999999")
    assert "--" not in str(absent.value)


def test_write_beyond_the_tags_end_refused_before_any_frame(sim, reader):
    reader.geometry(TAG_TWO)  # 32 blocks of 8
    sent = len(settle(sim, reader))
    with pytest.raises(ValueError, match="the tag has 32 blocks"):
        reader.write_blocks(0, b"\x11" * 8 * 40, uid=TAG_TWO)
    with pytest.raises(ValueError, match="blocks 31 to 32 do not fit"):
        reader.write_blocks(31, b"\x11" * 16, uid=TAG_TWO)
    assert len(settle(sim, reader)) == sent + 1  # the version request alone
    assert reader.write_blocks(31, b"\x22" * 8, uid=TAG_TWO) == 1  # the last block fits
