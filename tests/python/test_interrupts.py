"""Ctrl+C (SIGINT) in the middle of reader commands: it always reaches the program as
KeyboardInterrupt, never as another error or not at all, and what was done is known."""
import os
import signal
import threading

import pytest

import qx4

TAG_ONE = "E004010012345678"  # 28 blocks of 4
TAG_TWO = "E007000187654321"  # 32 blocks of 8


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
