"""What a pyserial user expects of opening and of values: OSError with errno on a failed
open, a lost port opened again, UIDs shown and taken in one order, one version."""
import errno
import fcntl
import os
import pickle
import re
import socket
import time
from pathlib import Path

import pytest

import qx4
from qx4.simulator import Simulator

SOURCE = Path(__file__).resolve().parents[2]
TAG_ONE = "E004010012345678"


def _refused_port() -> int:
    with socket.socket() as probe:  # a port nobody listens on
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def test_failed_opens_are_oserrors_with_the_systems_reason():
    with pytest.raises(OSError) as missing:
        qx4.Reader("/dev/qx4-no-such-device")
    assert isinstance(missing.value, qx4.OpenError)
    assert isinstance(missing.value, qx4.ReaderGoneError)  # older handlers still catch it
    assert missing.value.errno == errno.ENOENT
    assert missing.value.filename == "/dev/qx4-no-such-device"
    assert "No such file or directory" in str(missing.value)

    address = f"tcp://127.0.0.1:{_refused_port()}"
    with pytest.raises(qx4.OpenError) as refused:
        qx4.Reader(address)
    assert refused.value.errno == errno.ECONNREFUSED
    assert "refused" in str(refused.value)

    copy = pickle.loads(pickle.dumps(refused.value))
    assert (type(copy), copy.errno, copy.filename, str(copy)) == (
        qx4.OpenError, errno.ECONNREFUSED, address, str(refused.value))


def test_a_port_another_program_holds_is_busy():
    with Simulator() as sim:
        holder = os.open(sim.device, os.O_RDWR | os.O_NOCTTY)
        try:
            fcntl.flock(holder, fcntl.LOCK_EX)
            with pytest.raises(qx4.OpenError) as busy:
                qx4.Reader(sim.device)
            assert busy.value.errno == errno.EBUSY
            assert "in use" in str(busy.value)
        finally:
            os.close(holder)
        with qx4.Reader(sim.device) as reader:  # free again
            assert reader.version()


def test_open_on_a_lost_port_opens_it_again():
    sim = Simulator()
    reader = qx4.Reader(sim.device, timeout=0.5)
    try:
        sim.stop()
        for _ in range(100):
            if not reader.is_ok:
                break
            time.sleep(0.05)
        assert not reader.is_ok
        # Not "already open": the lost port is opened again, and its device is gone.
        with pytest.raises(qx4.OpenError) as gone:
            reader.open()
        assert gone.value.errno == errno.ENOENT
        assert not reader.is_open
    finally:
        reader.close()


def test_uids_are_shown_and_taken_most_significant_byte_first():
    uid = qx4.parse_uid(TAG_ONE)
    assert uid == bytes.fromhex(TAG_ONE)[::-1]
    assert TAG_ONE in repr(qx4.Tag(uid, 0))
    assert f"uid='{TAG_ONE}'" in repr(qx4.Notification("uid-data", uid, b"\x01", 0.0))
    with pytest.raises(ValueError, match="most significant first"):
        qx4.parse_uid(bytes.fromhex(TAG_ONE))
    with pytest.raises(ValueError, match=f"'{TAG_ONE}'"):
        qx4.parse_uid(bytes.fromhex(TAG_ONE)[::-1].hex())


def test_a_timeout_of_none_waits_as_long_as_the_library_can():
    with Simulator() as sim, qx4.Reader(sim.device, timeout=None) as reader:
        assert reader.timeout == 60.0
        reader.timeout = 1.5
        assert reader.timeout == 1.5


def test_one_version_everywhere():
    changelog = (SOURCE / "debian" / "changelog").read_text(encoding="utf-8")
    debian = re.match(r"\S+ \(([^)-]+)", changelog).group(1)
    assert qx4.__version__ == qx4.library_version() == debian


def test_every_public_name_loads_on_first_use_and_nothing_heavy_before():
    import subprocess
    import sys

    probe = ("import sys, qx4; heavy = [m for m in ('ctypes', 'dataclasses', "
             "'qx4.reader') if m in sys.modules]; print(heavy); "
             "print([n for n in qx4.__all__ if getattr(qx4, n, None) is None]); "
             "print([qx4.errors.QX4Error.__name__, qx4.types.Tag.__name__])")
    out = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True,
                         env=os.environ, check=True).stdout.splitlines()
    assert out == ["[]", "[]", "['QX4Error', 'Tag']"], out
    assert set(qx4.__all__) <= set(dir(qx4))
    with pytest.raises(AttributeError, match="no attribute 'Readr'"):
        qx4.Readr  # noqa: B018


def test_a_lost_port_is_the_exception_alone_not_a_library_line_too(capfd, caplog):
    sim = Simulator()
    sim.__enter__()
    reader = qx4.Reader(sim.device, timeout=0.5)
    reader.version()
    with caplog.at_level("DEBUG", logger="qx4"):
        sim.__exit__(None, None, None)  # the receive thread sees the hang-up at once
        with pytest.raises(qx4.ReaderGoneError):
            for _ in range(20):
                reader.version()
                time.sleep(0.1)
        reader.close()
    assert "Error Info" not in capfd.readouterr().err
    assert "Reading comms port" in caplog.text  # kept, as a debug record
