#!/usr/bin/env python3
"""qx4 end to end against the simulated reader: usage, exit statuses, JSON, trace,
dump -> restore -> diff across two readers, watch."""
import json
import os
import socket
import subprocess
import sys
import tempfile
import unittest

BUILD = sys.argv.pop(1) if len(sys.argv) > 1 else "build"
QX4 = os.path.join(BUILD, "cli", "qx4")
QX4SIM = os.path.join(BUILD, "sim", "qx4sim")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def qx4(*args, timeout=30):
    return subprocess.run([QX4, *args], capture_output=True, text=True, timeout=timeout)


class SimProcess:
    """qx4sim in its own process, so state lasts across qx4 invocations."""

    def __init__(self, *args):
        self.process = subprocess.Popen([QX4SIM, *args], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)
        self.process.stdout.readline()
        self.device = self.process.stdout.readline().split("=")[1].strip()

    def command(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return self.process.stdout.readline()

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)


class Usage(unittest.TestCase):
    def test_help_comes_from_the_table(self):
        out = qx4("help")
        self.assertEqual(out.returncode, 0)
        for name in ("inventory", "dump", "watch", "myd-write-reread", "eeprom-read"):
            self.assertIn(name, out.stdout)
        one = qx4("help", "read")
        self.assertIn("qx4 read 0 4 --option", one.stdout)

    def test_bad_usage_is_status_2(self):
        self.assertEqual(qx4().returncode, 2)
        for args in (["frobnicate"], ["--simulate", "read", "x"], ["--port"],
                     ["--simulate", "carrier", "maybe"], ["help", "nothing"]):
            out = qx4(*args)
            self.assertEqual(out.returncode, 2, args)
            self.assertTrue(out.stderr.startswith("qx4: "), out.stderr)

    def test_missing_device_is_status_1_with_a_sentence(self):
        out = qx4("--device", "/nonexistent/tty", "version")
        self.assertEqual(out.returncode, 1)
        self.assertIn("cannot open COM3", out.stderr)


class Commands(unittest.TestCase):
    def test_reader_and_tag_commands_in_text_and_json(self):
        self.assertIn("version: QX4SIM", qx4("--simulate", "version").stdout)
        info = json.loads(qx4("--simulate", "--json", "info").stdout)
        self.assertEqual(info["uid"], "E004010012345678")
        self.assertEqual((info["blockCount"], info["blockSize"]), (28, 4))
        self.assertTrue(info["ok"])
        read = json.loads(qx4("--simulate", "--json", "--option", "read", "0", "2").stdout)
        self.assertEqual([b["data"] for b in read["blocks"]], ["51583420", "74616720"])
        self.assertEqual(read["blocks"][0]["security"], 0)
        scan = json.loads(qx4("--simulate", "--json", "scan").stdout)
        self.assertEqual(scan["count"], 3)
        words = json.loads(qx4("--simulate", "--json", "eeprom-read", "12", "2").stdout)
        self.assertEqual(words["words"][0], 0x1205)

    def test_reader_errors_name_their_cause(self):
        out = qx4("--simulate", "--json", "read", "200")
        self.assertEqual(out.returncode, 1)
        result = json.loads(out.stdout)
        self.assertFalse(result["ok"])
        self.assertEqual((result["errorCode"], result["errorDetail"]), (5, 0x10))
        self.assertIn("NACK 5/0x10", result["error"])
        sim = SimProcess()
        try:
            sim.process.send_signal(19)  # SIGSTOP: the reader goes silent
            out = qx4("--device", sim.device, "--timeout", "200", "version")
            self.assertEqual(out.returncode, 1)
            self.assertIn("did not answer within 200 ms", out.stderr)
        finally:
            sim.process.send_signal(18)
            sim.close()

    def test_trace_shows_the_exact_frames(self):
        out = qx4("--simulate", "--trace", "version")
        frames = [line.split(" ", 2)[1:] for line in out.stderr.splitlines()]
        self.assertIn(["->", "02 00 4F 02 90 00 03 E6 0D"], frames)
        self.assertTrue(any(d == "<-" and f.startswith("02 00 30") for d, f in frames))

    def test_write_and_myd(self):
        out = qx4("--simulate", "--json", "--addressed", "write", "3", "11223344")
        self.assertTrue(json.loads(out.stdout)["ok"], out.stderr)
        out = qx4("--simulate", "--json", "--uid", "E005109876543210", "--option",
                  "myd-write-reread", "2", "0102")
        result = json.loads(out.stdout)
        self.assertTrue(result["matches"], out.stdout)
        self.assertEqual(result["readBack"], "0102000000000000")


class DumpRestoreDiff(unittest.TestCase):
    def test_dump_restore_onto_another_tag_then_diff(self):
        with tempfile.TemporaryDirectory() as tmp:
            source, target = SimProcess(), None
            try:
                dump = os.path.join(tmp, "tag.json")
                out = qx4("--device", source.device, "--json", "dump", dump)
                self.assertEqual(out.returncode, 0, out.stderr)
                with open(dump) as f:
                    tag = json.load(f)["tags"][0]
                self.assertEqual(len(tag["blocks"]), 28)
                # Another reader whose only tag is blank, with one locked block.
                blank = dict(tag, uid="E004019999999999",
                             blocks=[{"data": "00000000", "locked": i == 5} for i in range(28)])
                field = os.path.join(tmp, "blank.json")
                with open(field, "w") as f:
                    json.dump({"tags": [blank]}, f)
                target = SimProcess("--field", field)
                out = qx4("--device", target.device, "--json", "restore", dump)
                result = json.loads(out.stdout)
                self.assertEqual(result["skippedLocked"], 1, out.stdout)
                self.assertEqual(result["written"], 27)
                out = qx4("--device", target.device, "--json", "restore", dump, "--skip-same")
                self.assertEqual(json.loads(out.stdout)["skippedSame"], 27)
                diff = json.loads(qx4("--device", target.device, "--json", "diff", dump).stdout)
                self.assertEqual(diff["differences"], [] if tag["blocks"][5]["data"] == "00000000"
                                 else [{"block": 5, "dump": tag["blocks"][5]["data"], "tag": "00000000"}])
                diff = json.loads(qx4("--device", source.device, "--json", "diff", dump).stdout)
                self.assertEqual(diff["differences"], [])
            finally:
                source.close()
                if target:
                    target.close()


class Simulator(unittest.TestCase):
    def test_options_and_uids_are_checked(self):
        out = subprocess.run([QX4SIM, "--delay", "-5"], capture_output=True, text=True,
                             timeout=10)
        self.assertEqual(out.returncode, 2)
        self.assertIn("--delay takes a whole number", out.stderr)
        sim = SimProcess()
        try:
            self.assertIn("left the field", sim.command("leave e004010012345678"))
            self.assertIn("E004010012345678 entered the field",
                          sim.command("enter E0:04:01:00:12:34:56:78"))
            self.assertIn("not a UID", sim.command("leave E00401001234567Z"))
        finally:
            sim.close()

    def test_listen_serves_the_reader_over_tcp(self):
        sim = SimProcess("--listen", str(free_port()))
        try:
            self.assertTrue(sim.device.startswith("tcp://127.0.0.1:"), sim.device)
            out = qx4("--device", sim.device, "--json", "inventory")
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertEqual(json.loads(out.stdout)["uid"], "E004010012345678")
        finally:
            sim.close()

    def test_sigterm_stops_it_with_a_line_half_typed(self):
        sim = SimProcess()
        sim.process.stdin.write("lea")  # no end of line yet
        sim.process.stdin.flush()
        sim.process.terminate()
        self.assertEqual(sim.process.wait(timeout=5), 0)

    def test_a_late_reply_does_not_answer_the_next_run(self):
        sim = SimProcess("--delay", "300")
        try:
            out = qx4("--device", sim.device, "--timeout", "50", "version")
            self.assertEqual(out.returncode, 1)
            for _ in range(2):  # the version text arrives during the first of them
                out = qx4("--device", sim.device, "--json", "inventory")
                self.assertEqual(out.returncode, 0, out.stderr)
                self.assertEqual(json.loads(out.stdout)["uid"], "E004010012345678")
        finally:
            sim.close()


class Watch(unittest.TestCase):
    def test_watch_prints_notifications_and_restores_the_mode(self):
        sim = SimProcess("--scan-period", "100")
        try:
            out = qx4("--device", sim.device, "--json", "watch", "1")
            self.assertEqual(out.returncode, 0, out.stderr)
            lines = [json.loads(line) for line in out.stdout.splitlines()]
            notes = [l for l in lines if "kind" in l]
            self.assertGreater(len(notes), 3)
            self.assertEqual({n["uid"] for n in notes},
                             {"E004010012345678", "E007000187654321", "E005109876543210"})
            self.assertEqual(lines[-1]["notifications"], len(notes))
            self.assertIn("left the field", sim.command("leave E007000187654321"))
            mode = json.loads(qx4("--device", sim.device, "--json", "op-mode").stdout)
            self.assertEqual(mode["mode"], 0)  # back to command mode
        finally:
            sim.close()


if __name__ == "__main__":
    unittest.main()
