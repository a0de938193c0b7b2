"""qx4.Simulator: whole replies, output drained on long logged runs, start-up time-out,
and a qx4sim that will not stop."""
import os
import subprocess
import sys
import time

import pytest

import qx4

TAG_ONE = "E004010012345678"


def test_replies_of_several_lines_keep_later_ones_in_step():
    with qx4.Simulator() as sim:
        assert sim.command("list").splitlines() == [
            "E004010012345678 iso15693 28x4", "E007000187654321 iso15693 32x8",
            "E005109876543210 my-d 16x8"]
        assert sim.command(f"leave {TAG_ONE}") == f"{TAG_ONE} left the field"
        assert sim.command("list").count("\n") == 1
        assert sim.command("") == ""
        with pytest.raises(ValueError):
            sim.command("list\nlist")


def test_a_long_logged_run_never_blocks_on_its_output():
    with qx4.Simulator(log=True) as sim, qx4.Reader(sim.device) as reader:
        for _ in range(400):  # well beyond what a pipe holds
            reader.read_blocks(0, 4, uid=TAG_ONE)
        reader.version()
        time.sleep(0.2)
        assert len(sim.frames) >= 2 * 401
        assert sim.command("list").startswith(TAG_ONE)


def test_start_up_has_a_time_out_and_stop_kills_what_will_not_end():
    started = time.monotonic()
    with pytest.raises(qx4.SimulatorError, match="no answer to start within 0.5 s"):
        qx4.Simulator(program="/bin/cat", start_timeout=0.5)
    assert time.monotonic() - started < 5
    with pytest.raises(qx4.SimulatorError, match="has ended"):
        qx4.Simulator(extra=("--baud", "300"))
    stubborn = ("-c", "trap '' TERM; echo simulated reader on /dev/null; echo export; "
                "exec sleep 60")
    sim = qx4.Simulator(program="/bin/sh", extra=stubborn, grace=0.5)
    assert sim.device == "/dev/null"
    started = time.monotonic()
    sim.stop()
    assert time.monotonic() - started < 5
    assert sim._process.returncode == -9


def test_options_are_keyword_only():
    with pytest.raises(TypeError):
        qx4.Simulator("field.json")  # type: ignore[misc]
    assert subprocess.run([qx4.simulator._program(), "--version"], capture_output=True,
                          text=True).stdout.startswith("qx4sim ")


def test_a_simulator_never_stopped_ends_with_the_program():
    script = ("import qx4\n"
              "sim = qx4.Simulator()\n"
              "print(sim._process.pid)\n")
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         check=True)
    with pytest.raises(ProcessLookupError):
        os.kill(int(out.stdout), 0)


def test_the_field_profile_and_a_tag_changed_while_it_runs(tmp_path):
    path = tmp_path / "one.json"
    path.write_text('{"tags":[{"uid":"%s","blocks":[%s]}]}'
                    % (TAG_ONE, ",".join('{"data":"%02X%02X%02X%02X"}' % (i, i, i, i)
                                         for i in range(16))))
    with qx4.Simulator(field=path, profile="field", seed=5) as sim, \
            qx4.Reader(sim.device) as reader:
        assert [b.data for b in reader.read_blocks(0, 16, uid=TAG_ONE)] == [
            bytes([i]) * 4 for i in range(16)]
        assert sim.command(f"tag {TAG_ONE} crcErrors 1") == f"{TAG_ONE}: crcErrors 1"
        with pytest.raises(qx4.NackError):
            reader.read_blocks(0, 1, uid=TAG_ONE)
        sim.command(f"tag {TAG_ONE} crcErrors 0")
        assert reader.read_blocks(3, 1, uid=TAG_ONE)[0].data == b"\x03" * 4
