#!/usr/bin/env python3
"""qx4 end to end against the simulated reader: usage, exit statuses, JSON, trace,
dump -> restore -> diff across two readers, watch."""
import errno
import json
import os
import pty
import queue
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
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


TAG_ONE = "E004010012345678"   # 28 blocks of 4 bytes
TAG_TWO = "E007000187654321"   # 32 blocks of 8 bytes
MYD = "E005109876543210"


def field_file(directory, name, tags):
    """A field for qx4sim: tags given as (uid, block size, block count, extra keys)."""
    entries = []
    for uid, size, count, extra in tags:
        entry = {"uid": uid, "blockSize": size,
                 "blocks": [{"data": "00" * size} for _ in range(count)]}
        entry.update(extra)
        entries.append(entry)
    path = os.path.join(directory, name)
    with open(path, "w") as f:
        json.dump({"tags": entries}, f)
    return path


def run_json(*args):
    out = qx4("--json", *args)
    lines = out.stdout.splitlines()
    assert len(lines) == 1, (args, out.stdout, out.stderr)
    return out.returncode, json.loads(lines[0])


class Usage(unittest.TestCase):
    def test_help_comes_from_the_table(self):
        out = qx4("help")
        self.assertEqual(out.returncode, 0)
        for name in ("inventory", "dump", "watch", "myd-write-reread", "eeprom-read", "raw",
                     "findafi"):
            self.assertIn(name, out.stdout)
        one = qx4("help", "restore")
        self.assertIn("qx4 restore tag.json", one.stdout)
        self.assertIn("--locks", one.stdout)
        version = qx4("--version")
        self.assertRegex(version.stdout, r"^qx4 \d+\.\d+\.\d+ \(library \d+\.\d+\.\d+\)")

    def test_bad_usage_is_status_2_also_in_json(self):
        self.assertEqual(qx4().returncode, 2)
        for args in (["frobnicate"], ["--simulate", "read", "x"], ["--port"],
                     ["--simulate", "carrier", "maybe"], ["help", "nothing"],
                     ["--simulate", "read", "08x"], ["--simulate", "read", "010", "1", "2"],
                     ["--simulate", "restore", "t.json", "--skipsame"],
                     ["--simulate", "read", "0", "--locks"],
                     ["--simulate", "--uid", "E00401001234567Z", "read", "0"],
                     ["--simulate", "write-bytes", "0", "AA" * 244]):
            out = qx4(*args)
            self.assertEqual(out.returncode, 2, args)
            self.assertTrue(out.stderr.startswith("qx4: "), out.stderr)
        code, result = run_json("--simulate", "restore", "t.json", "--skipsame")
        self.assertEqual(code, 2)
        self.assertFalse(result["ok"])
        self.assertIn("--skipsame", result["error"])
        out = qx4("--simulate", "write-bytes", "0", "AA" * 244, "--uid", TAG_ONE)
        self.assertIn("1 to 243 bytes", out.stderr)

    def test_numbers_are_decimal_or_hex_never_octal(self):
        code, result = run_json("--simulate", "--uid", TAG_ONE, "read", "010")
        self.assertEqual(result["blocks"][0]["block"], 10)
        code, result = run_json("--simulate", "--uid", TAG_ONE, "read", "08")
        self.assertEqual(result["blocks"][0]["block"], 8)
        code, result = run_json("--simulate", "--uid", TAG_ONE, "read", "0x1B")
        self.assertEqual(result["blocks"][0]["block"], 27)

    def test_missing_device_is_status_1_with_a_sentence(self):
        out = qx4("--device", "/nonexistent/tty", "version")
        self.assertEqual(out.returncode, 1)
        self.assertIn("cannot open COM3", out.stderr)
        code, result = run_json("--device", "/nonexistent/tty", "version")
        self.assertEqual((code, result["ok"]), (1, False))
        self.assertIn("cannot open COM3", result["error"])
        # The system's reason, as the library met it, in text and JSON.
        self.assertEqual(result["systemError"], errno.ENOENT)
        self.assertIn("No such file or directory", result["cause"])
        code, result = run_json("--device", __file__, "version")
        self.assertEqual((code, result["systemError"]), (1, errno.ENOTTY))
        self.assertIn("not a serial port", result["error"])


class Commands(unittest.TestCase):
    def test_reader_and_tag_commands_in_text_and_json(self):
        self.assertIn("version: QX4SIM", qx4("--simulate", "version").stdout)
        code, info = run_json("--simulate", "info")
        self.assertEqual(info["uid"], TAG_ONE)
        self.assertEqual((info["blockCount"], info["blockSize"]), (28, 4))
        code, read = run_json("--simulate", "--option", "read", "0", "2")
        self.assertEqual([b["data"] for b in read["blocks"]], ["51583420", "74616720"])
        for args in (["read", "0"], ["read-bytes", "0", "2"], ["security", "0", "2"],
                     ["info"]):  # the tag picked is named
            self.assertIn("uid: " + TAG_ONE, qx4("--simulate", *args).stdout, args)
        self.assertEqual(read["blocks"][0]["locked"], False)
        code, scan = run_json("--simulate", "scan")
        self.assertEqual(scan["count"], 3)
        code, words = run_json("--simulate", "eeprom-read", "12", "2")
        self.assertEqual(words["words"][0], 0x1205)

    def test_one_type_per_key_across_commands(self):
        kinds = {}
        with tempfile.TemporaryDirectory() as tmp:
            dump = os.path.join(tmp, "d.json")
            runs = [["version"], ["info"], ["inventory"], ["scan"], ["op-mode"], ["tag-mode"],
                    ["eeprom-read", "12", "2"], ["afi-register"], ["uid-register"],
                    ["read", "0", "2", "--option"], ["read-bytes", "0", "3"], ["security", "0", "4"],
                    ["write", "3", "00000000"], ["dump", dump], ["diff", dump],
                    ["restore", dump], ["raw", "2B00"], ["read", "200"], ["convert", dump,
                                                                          dump + ".nfc"]]
            for args in runs:
                uid = [] if args[0] in ("version", "inventory", "scan", "op-mode", "tag-mode",
                                        "eeprom-read", "afi-register", "uid-register",
                                        "convert") else ["--uid", TAG_ONE]
                _, result = run_json("--simulate", *uid, *args)
                for key, value in result.items():
                    kind = "number" if isinstance(value, (int, float)) and \
                        not isinstance(value, bool) else type(value).__name__
                    kinds.setdefault(key, set()).add(kind)
        self.assertGreater(len(kinds), 30)
        mixed = {key: types for key, types in kinds.items() if len(types) > 1}
        self.assertEqual(mixed, {})

    def test_eight_byte_blocks_need_no_block_size(self):
        code, read = run_json("--simulate", "--uid", TAG_TWO, "--option", "read", "0", "32")
        self.assertEqual(code, 0, read)
        self.assertEqual(len(read["blocks"]), 32)
        self.assertTrue(all(len(b["data"]) == 16 for b in read["blocks"]))
        code, wrong = run_json("--simulate", "--uid", TAG_TWO, "--block-size", "4", "read", "0")
        self.assertEqual(code, 1)
        self.assertIn("block size", wrong["error"])
        self.assertNotIn("blocks", wrong)  # never shown as data

    def test_reader_errors_name_their_cause(self):
        code, result = run_json("--simulate", "read", "200")
        self.assertEqual(code, 1)
        self.assertFalse(result["ok"])
        self.assertEqual((result["nack"], result["iso"]), (5, 0x10))
        self.assertIn("NACK 0x05/0x10", result["error"])
        self.assertEqual(result["readerText"], result["isoText"])
        self.assertEqual(result["error"].count(result["isoText"]), 1)  # once, not twice
        self.assertNotIn("QX4", result["error"])
        code, result = run_json("--simulate", "--uid", "E0040100DEADBEEF", "read", "0")
        self.assertEqual((code, result["nack"]), (3, 4))
        self.assertIn("no tag answered", result["error"])
        self.assertIn("タグからの応答なし", result["error"])  # the reader's own text follows
        sim = SimProcess()
        try:
            sim.process.send_signal(19)  # SIGSTOP: the reader goes silent
            out = qx4("--device", sim.device, "--timeout", "200", "version")
            self.assertEqual(out.returncode, 3)
            self.assertIn("did not answer the link check", out.stderr)
        finally:
            sim.process.send_signal(18)
            sim.close()

    def test_trace_decodes_every_frame(self):
        out = qx4("--simulate", "--trace", "version")
        times = [float(line.split(" ", 1)[0]) for line in out.stderr.splitlines()]
        self.assertEqual(times, sorted(times))
        self.assertLess(times[0], 3600)  # seconds since the run began, not since 1970
        lines = [line.split(" ", 1)[1] for line in out.stderr.splitlines()]
        self.assertIn("-> ReadSetting RomVersion (address 0x00, n 2, data 90 00, sum 0xE6)"
                      " | 02 00 4F 02 90 00 03 E6 0D", lines)
        self.assertTrue(any(l.startswith("<- ACK RomVersion (address 0x00, n ") for l in lines))
        out = qx4("--simulate", "--trace", "--uid", TAG_ONE, "read", "200")
        self.assertIn("<- NACK 0x05/0x10 The specified block is not available", out.stderr)

    def test_raw_and_findafi(self):
        code, result = run_json("--simulate", "raw", "2B00")
        self.assertEqual(code, 0, result)
        self.assertTrue(result["reply"].startswith("2B0F78563412"))
        code, result = run_json("--simulate", "--uid", TAG_TWO, "raw", "2B00")  # addressed
        self.assertTrue(result["reply"].startswith("2B0F21436587"), result)
        with tempfile.TemporaryDirectory() as tmp:
            field = field_file(tmp, "afi.json", [(TAG_ONE, 4, 8, {"afi": 0x42}),
                                                 (TAG_TWO, 8, 8, {"afi": 0x07}),
                                                 (MYD, 8, 8, {"afi": 0x42})])
            sim = SimProcess("--field", field)
            try:
                code, result = run_json("--device", sim.device, "findafi")
                self.assertEqual(code, 0, result)
                self.assertEqual(result["answered"], [{"afi": 7, "uid": TAG_TWO},
                                                      {"afi": 0x42, "uid": TAG_ONE},
                                                      {"afi": 0x42, "uid": MYD}])
                # The tags it kept quiet to find the next answer again afterwards.
                self.assertEqual(run_json("--device", sim.device, "scan")[1]["count"], 3)
                # A selected tag alone answers a request in selected mode.
                self.assertEqual(qx4("--device", sim.device, "select", TAG_TWO).returncode, 0)
                code, result = run_json("--device", sim.device, "raw", "2B03")
                self.assertTrue(result["reply"].startswith("2B0F21436587"), result)
            finally:
                sim.close()

    def test_write_and_myd(self):
        code, result = run_json("--simulate", "--uid", TAG_ONE, "write", "3", "11223344")
        self.assertEqual((code, result["written"]), (0, 1))
        code, result = run_json("--simulate", "--uid", MYD, "--option", "myd-write-reread", "2",
                                "0102000000000009")
        self.assertTrue(result["matches"], result)
        self.assertEqual(result["readBack"], "0102000000000009")
        for command in ("myd-write", "myd-write-reread"):  # never padded with zeros
            code, result = run_json("--simulate", "--uid", MYD, command, "2", "0102")
            self.assertEqual(code, 2)
            self.assertIn("one whole my-d block: 8 bytes, not 2", result["error"])

    def test_write_beyond_the_tags_end_refused_before_any_frame(self):
        sim = SimProcess()
        try:
            common = ("--device", sim.device, "--uid", TAG_TWO)
            before = run_json(*common, "read", "0", "32")[1]["blocks"]
            code, result = run_json(*common, "write", "0", "11" * 8 * 40)
            self.assertEqual(code, 2, result)
            self.assertIn("the tag has 32 blocks", result["error"])
            self.assertEqual(run_json(*common, "read", "0", "32")[1]["blocks"], before)
            self.assertEqual(qx4(*common, "write", "31", "22" * 8).returncode, 0)
        finally:
            sim.close()

    def test_inventory_names_every_tag_that_answered(self):
        code, result = run_json("--simulate", "inventory")
        self.assertEqual((code, result["answered"]), (0, 3), result)
        self.assertEqual(sorted(result["uids"]), sorted([TAG_ONE, TAG_TWO, MYD]))
        out = qx4("--simulate", "inventory")
        self.assertIn("3 tags answered", out.stdout)
        self.assertTrue(all(uid in out.stdout for uid in (TAG_ONE, TAG_TWO, MYD)))

    def test_state_file_carries_writes_between_runs(self):
        with tempfile.TemporaryDirectory() as tmp:
            state = os.path.join(tmp, "state.json")
            common = ("--simulate", "--state", state, "--uid", TAG_TWO)
            self.assertEqual(qx4(*common, "write", "1", "00112233445566778899AABBCCDDEEFF").returncode, 0)
            code, read = run_json(*common, "read", "1", "2")
            self.assertEqual([b["data"] for b in read["blocks"]],
                             ["0011223344556677", "8899AABBCCDDEEFF"])


def blocks_of(dump_path, uid):
    with open(dump_path) as f:
        return next(t for t in json.load(f)["tags"] if t["uid"] == uid)


class WithSims(unittest.TestCase):
    """A directory of its own and simulators closed at the end of each test."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.sims = []

    def tearDown(self):
        for sim in self.sims:
            sim.close()
        self.tmp.cleanup()

    def sim(self, *args, kind=None):
        sim = (kind or SimProcess)(*args)
        self.sims.append(sim)
        return sim


class SmallEeprom(WithSims):
    def test_every_start_on_a_reader_of_twenty_words_holds(self):
        # Each run starts with the link's fence, at an address of its own: the reader's
        # refusal beyond word 19 must never meet it.
        for refusal in ("0x43", "0x41", "silent"):
            with self.subTest(refusal=refusal):
                sim = self.sim("--eeprom-words", "20", "--eeprom-refusal", refusal)
                failed = [out.stderr for out in (qx4("--device", sim.device, "version")
                                                 for _ in range(20)) if out.returncode]
                self.assertEqual(failed, [])
                self.assertEqual(qx4("--device", sim.device, "eeprom-read", "19").returncode, 0)
                self.assertNotEqual(qx4("--device", sim.device, "eeprom-read", "20").returncode,
                                    0)


class DumpRestoreDiff(WithSims):

    def test_two_tags_need_a_uid_and_dumps_have_the_documented_shape(self):
        sim = self.sim()
        dump = os.path.join(self.dir, "d.json")
        code, result = run_json("--device", sim.device, "dump", dump)
        self.assertEqual(code, 2)
        for uid in (TAG_ONE, TAG_TWO, MYD):
            self.assertIn(uid, result["error"])
        for uid, size, count in ((TAG_ONE, 4, 28), (TAG_TWO, 8, 32), (MYD, 8, 16)):
            code, result = run_json("--device", sim.device, "--uid", uid, "dump", dump, "--force")
            self.assertEqual(code, 0, result)
            with open(dump) as f:
                doc = json.load(f)
            self.assertEqual(doc["format"], 2)
            tag = doc["tags"][0]
            self.assertEqual((tag["uid"], tag["blockSize"], tag["blockCount"]), (uid, size, count))
            self.assertEqual(len(tag["blocks"]), count)
            self.assertEqual(tag["type"], "my-d" if uid == MYD else "iso15693")
        out = qx4("--device", sim.device, "--uid", TAG_ONE, "dump", "/nonexistent/dir/x.json")
        self.assertEqual(out.returncode, 1)
        self.assertIn("cannot write /nonexistent/dir/x.json", out.stderr)
        out = qx4("--device", sim.device, "--uid", TAG_ONE, "dump", "-")
        self.assertEqual(json.loads(out.stdout)["tags"][0]["uid"], TAG_ONE)

    def test_round_trip_restore_writes_only_what_differs_and_verifies(self):
        sim = self.sim()
        for uid, k in ((TAG_ONE, 4), (TAG_TWO, 8)):
            dump = os.path.join(self.dir, uid + ".json")
            self.assertEqual(qx4("--device", sim.device, "--uid", uid, "dump", dump).returncode, 0)
            for block in (1, 2, 3, 7, 9):
                self.assertEqual(qx4("--device", sim.device, "--uid", uid, "write", str(block),
                                     "EE" * k).returncode, 0)
            code, diff = run_json("--device", sim.device, "--uid", uid, "diff", dump)
            self.assertEqual(code, 1)
            self.assertEqual([d["block"] for d in diff["differences"]], [1, 2, 3, 7, 9])
            code, result = run_json("--device", sim.device, "--uid", uid, "restore", dump)
            self.assertEqual(code, 0, result)
            self.assertEqual(result["writtenBlocks"], [1, 2, 3, 7, 9])
            self.assertEqual(result["verified"], 5)
            code, result = run_json("--device", sim.device, "--uid", uid, "restore", dump)
            self.assertEqual((code, result["written"]), (0, 0))
            code, diff = run_json("--device", sim.device, "--uid", uid, "diff", dump)
            self.assertEqual((code, diff["differences"]), (0, []))

    def test_restore_refuses_another_uid_or_geometry_without_force(self):
        source = self.sim()
        dump = os.path.join(self.dir, "one.json")
        qx4("--device", source.device, "--uid", TAG_ONE, "dump", dump)
        field = field_file(self.dir, "blank.json", [("E004019999999999", 4, 28, {}),
                                                    ("E004018888888888", 8, 28, {})])
        target = self.sim("--field", field)
        code, result = run_json("--device", target.device, "--uid", "E004019999999999",
                                "restore", dump)
        self.assertEqual(code, 1)
        self.assertIn("the dump is of tag " + TAG_ONE, result["error"])
        code, result = run_json("--device", target.device, "--uid", "E004018888888888",
                                "restore", dump)
        self.assertIn("blocks hold 4 bytes, the tag's 8", result["error"])
        code, result = run_json("--device", target.device, "--uid", "E004019999999999",
                                "restore", dump, "--force")
        self.assertEqual(code, 0, result)
        self.assertEqual(result["verified"], 3)  # the text blocks; the rest are zero already
        code, diff = run_json("--device", target.device, "--uid", "E004019999999999", "diff", dump)
        self.assertEqual([d["what"] for d in diff["differences"]], ["uid"])

    def test_locked_blocks_afi_dsfid_and_locks(self):
        sim = self.sim()
        dump = os.path.join(self.dir, "one.json")
        qx4("--device", sim.device, "--uid", TAG_ONE, "dump", dump)
        common = ("--device", sim.device, "--uid", TAG_ONE)
        qx4(*common, "write", "5", "55555555")
        qx4(*common, "lock", "5", "--yes")
        qx4(*common, "write-afi", "0x33")
        qx4(*common, "write-dsfid", "0x44")
        code, diff = run_json(*common, "diff", dump)
        self.assertEqual(code, 1)
        self.assertEqual(sorted(d["what"] for d in diff["differences"]),
                         ["afi", "block", "dsfid", "lock"])
        afi = next(d for d in diff["differences"] if d["what"] == "afi")
        self.assertEqual((afi["tag"], afi["tagValue"]), ("0x33", 0x33))  # text and number
        self.assertIn("afi: dump 0x", qx4(*common, "diff", dump).stdout)
        _, security = run_json(*common, "security", "4", "2")
        self.assertEqual(security["security"], [0, 1])
        code, result = run_json(*common, "restore", dump)
        self.assertEqual(code, 1)  # block 5 is locked on the tag with other content
        self.assertEqual(result["skippedLockedBlocks"], [5])
        self.assertEqual((result["afiOutcome"], result["dsfidOutcome"]), ("written", "written"))
        qx4(*common, "lock-afi", "--yes")
        with open(dump) as f:
            doc = json.load(f)
        doc["tags"][0]["afi"] = 0x12
        doc["tags"][0]["blocks"][6]["locked"] = True
        with open(dump, "w") as f:
            json.dump(doc, f)
        code, mine = run_json(*common, "dump", os.path.join(self.dir, "now.json"),
                              "--probe-locks")
        self.assertTrue(blocks_of(os.path.join(self.dir, "now.json"), TAG_ONE)["afiLocked"])
        code, result = run_json(*common, "restore", dump, "--locks", "--yes")
        self.assertEqual(result["afiOutcome"], "skipped-locked")
        self.assertNotIn("lockedBlocks", result)  # not complete: nothing locked

    def test_tag_leaving_part_way_fails_the_rest_and_spares_the_other(self):
        source = self.sim()
        dump = os.path.join(self.dir, "two.json")
        qx4("--device", source.device, "--uid", TAG_TWO, "dump", dump)
        with open(dump) as f:
            doc = json.load(f)
        for i, block in enumerate(doc["tags"][0]["blocks"]):
            block["data"] = "%016X" % (0x1111111111111111 * (i % 15 + 1))
        with open(dump, "w") as f:
            json.dump(doc, f)
        field = field_file(self.dir, "slow.json", [
            (TAG_TWO, 8, 32, {"simulation": {"multiBlock": False}}),
            (TAG_ONE, 4, 28, {})])
        # Every reply 50 ms late: the 32 single reads take 1.6 s, the 32 writes as long again.
        target = self.sim("--field", field, "--delay", "50", kind=LoggedSim)
        restore = subprocess.Popen([QX4, "--device", target.device, "--uid", TAG_TWO, "--json",
                                    "restore", dump], stdout=subprocess.PIPE, text=True)
        # The tag leaves once the writes have begun, however slow the machine is today.
        deadline = time.monotonic() + 30
        while not target.writes() and time.monotonic() < deadline:
            self.assertIsNone(restore.poll())
        time.sleep(0.3)
        self.assertIn("left the field", target.command("leave " + TAG_TWO))
        out, _ = restore.communicate(timeout=60)
        self.assertEqual(restore.returncode, 1)
        result = json.loads(out)
        self.assertGreater(result["written"], 0)
        self.assertGreater(result["failed"], 0)
        self.assertTrue(all(f["nack"] == 4 for f in result["failures"]), result["failures"])
        # The block the tag left at failed; the rest was never tried; the written ones
        # could not be read back. Every block is named once.
        self.assertEqual(len(result["writtenBlocks"]), result["written"])
        self.assertEqual(len(result["failures"]), 1, result["failures"])
        named = [f["block"] for f in result["failures"]] + result["notDoneBlocks"] + \
            result["unverifiedBlocks"]
        self.assertEqual(sorted(named), list(range(32)))
        self.assertEqual(result["unverifiedBlocks"], result["writtenBlocks"])
        self.assertEqual(result["verified"], 0)
        # The other tag was never written.
        code, other = run_json("--device", target.device, "--uid", TAG_ONE, "read", "0", "28")
        self.assertTrue(all(b["data"] == "00000000" for b in other["blocks"]))

    def test_locks_are_reported_by_name_and_a_lock_in_place_is_done(self):
        sim = self.sim()
        dump = os.path.join(self.dir, "one.json")
        common = ("--device", sim.device, "--uid", TAG_ONE)
        qx4(*common, "dump", dump)
        with open(dump) as f:
            doc = json.load(f)
        tag = doc["tags"][0]
        tag.update(afi=0x10, dsfid=0x20, afiLocked=True, dsfidLocked=True)
        tag["blocks"][6]["locked"] = True
        with open(dump, "w") as f:
            json.dump(doc, f)
        out = qx4(*common, "restore", dump, "--locks", "--yes")
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("locked now: 6, AFI, DSFID", out.stdout)
        self.assertNotIn("left alone", out.stdout)  # the locks it applied are not left alone
        # Again: the tag has every lock the dump wants, which is what was asked.
        code, result = run_json(*common, "restore", dump, "--locks", "--yes")
        self.assertEqual(code, 0, result)
        self.assertEqual((result["afiLockOutcome"], result["dsfidLockOutcome"]),
                         ("already-locked", "already-locked"))
        self.assertEqual(result["failures"], [])
        out = qx4(*common, "restore", dump, "--locks", "--yes")
        self.assertIn("already locked: AFI, DSFID", out.stdout)
        self.assertNotIn("block is already", out.stdout + out.stderr)

    def test_force_onto_another_block_count_names_what_it_left(self):
        source = self.sim()
        dump = os.path.join(self.dir, "one.json")
        qx4("--device", source.device, "--uid", TAG_ONE, "dump", dump)
        small, large = "E004019999999999", "E004018888888888"
        field = field_file(self.dir, "counts.json", [(small, 4, 24, {}), (large, 4, 32, {})])
        target = self.sim("--field", field)
        for uid, key, blocks, common in ((small, "droppedBlocks", range(24, 28), 24),
                                         (large, "notInDumpBlocks", range(28, 32), 28)):
            for _ in range(2):  # the second run finds every common block the same
                code, result = run_json("--device", target.device, "--uid", uid, "restore",
                                        dump, "--force")
                self.assertEqual(code, 0, result)
                self.assertEqual(result[key], list(blocks))
            self.assertEqual((result["written"], result["same"]), (0, common))
        out = qx4("--device", target.device, "--uid", small, "restore", dump, "--force")
        self.assertIn("dropped, beyond the tag's 24 blocks: 24-27", out.stdout)
        out = qx4("--device", target.device, "--uid", small, "restore", dump)
        self.assertEqual(out.returncode, 1)  # without --force: refused, nothing written
        self.assertIn("the dump has 28 blocks, the tag 24", out.stderr)

    def test_interrupted_restore_names_what_it_did_not_do(self):
        field = field_file(self.dir, "slow.json", [
            (TAG_TWO, 8, 32, {"afi": 0, "dsfid": 0, "simulation": {"multiBlock": False}})])
        dump = os.path.join(self.dir, "dump.json")
        source = self.sim("--field", field)
        qx4("--device", source.device, "dump", dump)
        with open(dump) as f:
            doc = json.load(f)
        doc["tags"][0].update(afi=0x10, dsfid=0x20)
        for block in doc["tags"][0]["blocks"]:
            block["data"] = "A5" * 8
        with open(dump, "w") as f:
            json.dump(doc, f)
        target = self.sim("--field", field, "--delay", "30", kind=LoggedSim)
        restore = subprocess.Popen([QX4, "--device", target.device, "--json", "restore", dump],
                                   stdout=subprocess.PIPE, text=True)
        while not target.writes():
            self.assertIsNone(restore.poll())
        restore.terminate()
        out, _ = restore.communicate(timeout=30)
        result = json.loads(out)
        self.assertEqual(restore.returncode, 128 + signal.SIGTERM)
        self.assertTrue(result["interrupted"])
        self.assertEqual((result["afiOutcome"], result["dsfidOutcome"]), ("not-done", "not-done"))
        self.assertFalse([f for f in result["failures"] if "interrupted" in f["cause"]],
                         result["failures"])
        self.assertTrue(result["notDoneBlocks"])
        named = result["writtenBlocks"] + result["notDoneBlocks"] + \
            [f["block"] for f in result["failures"]]
        self.assertEqual(sorted(named), list(range(32)))

    def test_fallbacks_for_tags_without_system_information_or_multi_block_commands(self):
        field = field_file(self.dir, "plain.json", [
            (TAG_ONE, 4, 12, {"simulation": {"systemInfo": False, "multiBlock": False}})])
        sim = self.sim("--field", field)
        dump = os.path.join(self.dir, "plain-dump.json")
        out = qx4("--device", sim.device, "dump", dump)
        self.assertEqual(out.returncode, 1)
        self.assertIn("no system information", out.stderr)
        self.assertIn("--blocks", out.stderr)
        out = qx4("--device", sim.device, "--blocks", "12", "dump", dump)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(len(blocks_of(dump, TAG_ONE)["blocks"]), 12)
        qx4("--device", sim.device, "--blocks", "12", "write", "0", "0102030405060708")
        code, result = run_json("--device", sim.device, "--blocks", "12", "restore", dump)
        self.assertEqual((code, result["written"], result["verified"]), (0, 2, 2))


DISTINCT = "E0071A2B3C4D5E6F"  # every byte different: a reversed UID cannot pass

FLIPPER = """Filetype: Flipper NFC device
Version: 4
# written by hand from the format description
Device type: ISO15693-3
UID: E0 07 1A 2B 3C 4D 5E 6F
DSFID: 11
AFI: 22
IC Reference: 03
Lock DSFID: false
Lock AFI: true
Block Count: 4
Block Size: 04
Data Content: 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF
Security Status: 00 01 00 00
"""

PROXMARK = {
    "Created": "proxmark3", "FileType": "15693 v4",
    "Card": {"uid": "6F5E4D3C2B1A07E0", "dsfid": "11", "dsfidlock": "00", "afi": "22",
             "afilock": "01", "bytesperpage": "04", "pagescount": "04", "ic": "03",
             "locks": "00010000", "random": "0000", "privacypasswd": "00000000", "state": "00"},
    "blocks": {"0": "00112233", "1": "44556677", "2": "8899AABB", "3": "CCDDEEFF"},
}


class ForeignDumps(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def test_simulator_serves_a_hand_written_file_of_each_format(self):
        for path in (self.write("tag.nfc", FLIPPER), self.write("pm.json", json.dumps(PROXMARK))):
            sim = SimProcess("--field", path)
            try:
                code, inv = run_json("--device", sim.device, "inventory")
                self.assertEqual((code, inv["uid"], inv["dsfid"]), (0, DISTINCT, 0x11), path)
                code, read = run_json("--device", sim.device, "--option", "read", "0", "4")
                self.assertEqual([b["data"] for b in read["blocks"]],
                                 ["00112233", "44556677", "8899AABB", "CCDDEEFF"])
                self.assertEqual([b["locked"] for b in read["blocks"]],
                                 [False, True, False, False])
            finally:
                sim.close()

    def test_each_format_round_trips_through_a_blank_tag(self):
        source = self.write("tag.nfc", FLIPPER)
        sim = SimProcess("--field", source)
        blank = field_file(self.dir, "blank.json", [(DISTINCT, 4, 4, {})])
        try:
            reference = os.path.join(self.dir, "reference.json")
            self.assertEqual(qx4("--device", sim.device, "dump", reference).returncode, 0)
            for fmt, name in (("qx4", "d.json"), ("proxmark", "d.pm.json"), ("flipper", "d.nfc")):
                dump = os.path.join(self.dir, name)
                out = qx4("--device", sim.device, "dump", "--format", fmt, dump)
                self.assertEqual(out.returncode, 0, out.stderr)
                view = qx4("view", dump)
                self.assertIn("uid: " + DISTINCT, view.stdout)
                self.assertIn("   1 L 44 55 66 77", view.stdout)
                target = SimProcess("--field", blank)
                try:
                    code, result = run_json("--device", target.device, "restore", dump)
                    self.assertEqual(code, 0, result)  # the data; no lock without --locks
                    self.assertEqual((result["written"], result["verified"]), (4, 4), result)
                    again = os.path.join(self.dir, "again-" + fmt + ".json")
                    qx4("--device", target.device, "dump", again)
                    with open(again) as f, open(reference) as g:
                        mine, theirs = json.load(f)["tags"][0], json.load(g)["tags"][0]
                    self.assertEqual([b["data"] for b in mine["blocks"]],
                                     [b["data"] for b in theirs["blocks"]], fmt)
                    self.assertEqual((mine["afi"], mine["dsfid"]), (0x22, 0x11))
                finally:
                    target.close()
        finally:
            sim.close()

    def test_conversion_both_ways_keeps_every_field(self):
        flipper = self.write("in.nfc", FLIPPER)
        pm = os.path.join(self.dir, "out.pm.json")
        self.assertEqual(qx4("convert", flipper, pm, "--format", "proxmark").returncode, 0)
        with open(pm) as f:
            doc = json.load(f)
        self.assertEqual(doc["FileType"], "15693 v4")
        self.assertEqual(doc["Card"]["uid"], "6F5E4D3C2B1A07E0")
        self.assertEqual(doc["Card"]["locks"], "00010000")
        self.assertEqual(doc["Card"]["afilock"], "01")
        back = os.path.join(self.dir, "back.nfc")
        self.assertEqual(qx4("convert", pm, back).returncode, 0)
        with open(back) as f:
            text = f.read()
        self.assertIn("UID: E0 07 1A 2B 3C 4D 5E 6F\n", text)
        self.assertIn("Security Status: 00 01 00 00\n", text)
        self.assertIn("Lock AFI: true\n", text)
        ours = json.loads(qx4("--json", "view", back).stdout)["tags"][0]
        self.assertEqual((ours["uid"], ours["afiLocked"], ours["blocks"][1]["locked"]),
                         (DISTINCT, True, True))

    def test_bad_files_name_the_file_the_place_and_what_is_wrong(self):
        cases = (("short.nfc", FLIPPER.replace("Block Count: 4", "Block Count: 5"),
                  "\"Data Content\" holds 16 bytes"),
                 ("uid.nfc", FLIPPER.replace("5E 6F", "5E"), "\"UID\" holds 7 bytes"),
                 ("odd.json", json.dumps(PROXMARK).replace("8899AABB", "8899AAB"), "not \"8899AAB\""),
                 ("junk.bin", "\x00\x01garbage", "not a dump this program reads"))
        for name, text, why in cases:
            path = self.write(name, text)
            out = qx4("view", path)
            self.assertEqual(out.returncode, 2, name)
            self.assertIn(path, out.stderr)
            self.assertIn(why, out.stderr)
            sim = subprocess.run([QX4SIM, "--field", path], capture_output=True, text=True,
                                 timeout=10)
            self.assertEqual(sim.returncode, 1)
            self.assertIn(why, sim.stderr)


class BoundedInput(unittest.TestCase):
    """Files are refused before they are read unless they are regular and dump-sized."""

    def limited(self, *args):
        # 100 MB of address space: a run that read the file whole would die of it. (Under
        # a sanitizer only the refusal is checked: its shadow memory needs more.)
        limit = "" if os.environ.get("QX4_SANITIZED") else "ulimit -v 100000; "
        return subprocess.run(["sh", "-c", limit + 'exec "$@"', "sh", QX4, *args],
                              capture_output=True, text=True, timeout=60)

    def test_devices_large_files_and_directories_are_refused_in_words(self):
        with tempfile.TemporaryDirectory() as tmp:
            sparse = os.path.join(tmp, "sparse.json")
            with open(sparse, "wb") as f:
                f.truncate(300 << 20)
            for path, why in (("/dev/zero", "character device"), (sparse, "larger than"),
                              (tmp, "directory")):
                for command in (["view", path], ["convert", path, os.path.join(tmp, "o.nfc")],
                                ["--simulate", "--field", path, "inventory"],
                                ["--simulate", "--uid", TAG_ONE, "diff", path]):
                    out = self.limited(*command)
                    self.assertEqual(out.returncode, 2, (command, out.stderr))
                    self.assertIn(why, out.stderr)
                    self.assertNotIn("bad_alloc", out.stderr)
            with open(sparse, "rb") as f:
                out = subprocess.run([QX4, "view", "-"], stdin=f, capture_output=True,
                                     text=True, timeout=60)
            self.assertEqual(out.returncode, 2)
            self.assertIn("standard input is larger than", out.stderr)

    def test_bom_duplicates_and_escapes(self):
        with tempfile.TemporaryDirectory() as tmp:
            tag = {"uid": TAG_ONE, "blockSize": 4, "blocks": [{"data": "00000000"}]}
            path = os.path.join(tmp, "bom.json")
            with open(path, "wb") as f:
                f.write(b"\xef\xbb\xbf" + json.dumps({"tags": [tag]}).encode())
            self.assertEqual(qx4("view", path).returncode, 0)
            with open(path, "w") as f:
                f.write('{"tags": [{"uid": "%s", "uid": "E004010012345679", "blocks": []}]}'
                        % TAG_ONE)
            out = qx4("view", path)
            self.assertEqual(out.returncode, 2)
            self.assertIn('"uid" appears twice', out.stderr)
            with open(path, "w") as f:
                json.dump({"tags": [dict(tag, type="\x1b]0;owned\x07\x1b[2J")]}, f)
            for args in (["view", path], ["--json", "view", path]):
                out = qx4(*args)
                self.assertEqual(out.returncode, 2)
                self.assertNotIn("\x1b", out.stderr + out.stdout)
            self.assertIn("\\x1B[2J", qx4("view", path).stderr)
            with open(path, "w") as f:
                json.dump({"tags": [dict(tag, uid=5)]}, f)
            self.assertIn('"uid" must be text in double quotes, not 5', qx4("view", path).stderr)


class UnknownStaysUnknown(unittest.TestCase):
    def test_convert_of_an_unknown_afi_then_restore_leaves_the_tag_alone(self):
        with tempfile.TemporaryDirectory() as tmp:
            dump, state = os.path.join(tmp, "d.json"), os.path.join(tmp, "s.json")
            base = ("--simulate", "--state", state, "--uid", TAG_ONE)
            self.assertEqual(qx4(*base, "dump", dump).returncode, 0)
            with open(dump) as f:
                doc = json.load(f)
            doc["tags"][0].update(afi=None, dsfid=None)
            with open(dump, "w") as f:
                json.dump(doc, f)
            qx4(*base, "write-afi", "0x10")
            qx4(*base, "write-dsfid", "0x20")
            for name in ("t.nfc", "t.pm3"):
                out_file = os.path.join(tmp, name)
                code, result = run_json("convert", dump, out_file)
                self.assertEqual(code, 0)
                self.assertIn("AFI", result["writtenAsDefault"])
                self.assertTrue(any("not known" in n for n in result["notes"]))
                view = json.loads(qx4("--json", "view", out_file).stdout)
                self.assertIsNone(view["tags"][0]["afi"])
                self.assertIsNone(view["tags"][0]["dsfidLocked"])
                code, restored = run_json(*base, "restore", out_file)
                self.assertEqual(code, 0, restored)
                self.assertEqual(restored["afiOutcome"], "unknown")
                code, info = run_json(*base, "info")
                self.assertEqual((info["afi"], info["dsfid"]), (0x10, 0x20))


class SimulatorConsole(unittest.TestCase):
    def test_ports_save_errors_and_verbs(self):
        out = subprocess.run([QX4SIM, "--listen", "70000"], capture_output=True, text=True,
                             timeout=10)
        self.assertNotEqual(out.returncode, 0)
        self.assertIn("0 to 65535", out.stderr)
        self.assertIn("Flipper", subprocess.run([QX4SIM, "--help"], capture_output=True,
                                                text=True, timeout=10).stdout + out.stderr)
        with tempfile.TemporaryDirectory() as tmp:
            sim = SimProcess()
            try:
                self.assertIn("not saved", sim.command("save /nonexistent/dir/x.json"))
                self.assertIn("E004010012345678", sim.command("LIST"))  # still serving
                for _ in range(2):
                    sim.process.stdout.readline()
                self.assertIn("left the field", sim.command("Leave " + TAG_TWO))
                self.assertIn("left the field", sim.command("leave " + MYD))
                path = os.path.join(tmp, "one.nfc")
                self.assertIn("saved", sim.command("save " + path))
                with open(path) as f:
                    self.assertTrue(f.read().startswith("Filetype: Flipper NFC device"))
            finally:
                sim.close()


class ExitStatuses(unittest.TestCase):
    def test_one_meaning_per_status(self):
        self.assertEqual(qx4("--simulate", "frobnicate").returncode, 2)  # usage
        self.assertEqual(qx4("--simulate", "dump", "-", "--format", "x").returncode, 2)
        self.assertEqual(qx4("--simulate", "write", "0", "00000000").returncode, 2)  # 3 tags
        self.assertEqual(qx4("--simulate", "--uid", TAG_ONE, "read", "200").returncode, 1)
        self.assertEqual(qx4("--simulate", "--uid", "E0040100DEADBEEF", "read", "0").returncode,
                         3)  # no such tag
        self.assertEqual(qx4("--device", "/nonexistent/tty", "version").returncode, 1)
        with tempfile.TemporaryDirectory() as tmp:
            dump = os.path.join(tmp, "d.json")
            self.assertEqual(qx4("--simulate", "--uid", TAG_ONE, "dump", dump).returncode, 0)
            self.assertEqual(qx4("--simulate", "--uid", TAG_ONE, "diff", dump).returncode, 0)
            self.assertEqual(qx4("--simulate", "--uid", TAG_TWO, "--force", "diff",
                                 dump).returncode, 2)  # not an option of diff: usage
            with open(dump) as f:
                text = f.read()
            with open(dump, "w") as f:
                f.write(text.replace('"51583420"', '"00000000"', 1))
            self.assertEqual(qx4("--simulate", "--uid", TAG_ONE, "diff", dump).returncode, 1)
            out = qx4("--simulate", "--uid", "E0040100DEADBEEF", "diff", dump)
            self.assertEqual(out.returncode, 3, out.stderr)  # no tag: not "differs"


class Signals(unittest.TestCase):
    def test_sigterm_during_a_restore_says_which_blocks_were_written(self):
        with tempfile.TemporaryDirectory() as tmp:
            field = field_file(tmp, "slow.json", [
                (TAG_TWO, 8, 32, {"simulation": {"multiBlock": False}})])
            dump = os.path.join(tmp, "dump.json")
            sim = SimProcess("--field", field)
            try:
                qx4("--device", sim.device, "dump", dump)
            finally:
                sim.close()
            with open(dump) as f:
                doc = json.load(f)
            for block in doc["tags"][0]["blocks"]:
                block["data"] = "A5" * 8
            with open(dump, "w") as f:
                json.dump(doc, f)
            sim = SimProcess("--field", field, "--delay", "50")
            try:
                restore = subprocess.Popen([QX4, "--device", sim.device, "--json", "restore",
                                            dump], stdout=subprocess.PIPE, text=True)
                time.sleep(2.4)  # 32 reads of 50 ms, then the writes
                restore.terminate()
                out, _ = restore.communicate(timeout=30)
                result = json.loads(out)
                self.assertEqual(restore.returncode, 128 + signal.SIGTERM)
                self.assertTrue(result["interrupted"])
                self.assertIn("interrupted", result["error"])
                self.assertLess(len(result["writtenBlocks"]), 32)
                self.assertEqual(result["written"], len(result["writtenBlocks"]))
            finally:
                sim.close()

    def test_watch_ends_with_an_error_when_the_reader_vanishes(self):
        sim = SimProcess("--scan-period", "50")
        watch = subprocess.Popen([QX4, "--device", sim.device, "--json", "watch"],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        time.sleep(0.6)
        sim.process.kill()
        sim.process.wait()
        out, err = watch.communicate(timeout=10)
        self.assertEqual(watch.returncode, 1, err)
        result = json.loads(out.splitlines()[-1])
        self.assertFalse(result["ok"])
        self.assertIn("port is gone", result["error"])
        self.assertNotIn("Error Info", err)  # qx4's own line only, not the library's box

    def test_sigterm_during_watch_restores_the_mode(self):
        sim = SimProcess("--scan-period", "50")
        try:
            watch = subprocess.Popen([QX4, "--device", sim.device, "--json", "--events", "watch"],
                                     stdout=subprocess.PIPE, text=True)
            time.sleep(0.8)
            watch.terminate()
            out, _ = watch.communicate(timeout=10)
            lines = [json.loads(line) for line in out.splitlines()]
            self.assertEqual(watch.returncode, 0)
            self.assertTrue(any(l.get("event") == "enter" for l in lines))
            notes = [l for l in lines if "kind" in l]
            self.assertTrue(notes and all(set(l["data"]) <= set("0123456789ABCDEF") for l in notes))
            mode = json.loads(qx4("--device", sim.device, "--json", "op-mode").stdout)
            self.assertEqual(mode["mode"], 0)
        finally:
            sim.close()


class WatchModes(unittest.TestCase):
    def setUp(self):
        self.sim = SimProcess("--scan-period", "1200")

    def tearDown(self):
        self.sim.close()

    def test_watch_puts_back_every_byte_of_the_mode_it_changed(self):
        self.assertEqual(qx4("--device", self.sim.device, "op-mode", "0", "2", "0x78",
                             "0x1234").returncode, 0)
        self.assertEqual(qx4("--device", self.sim.device, "watch", "1").returncode, 0)
        _, mode = run_json("--device", self.sim.device, "op-mode")
        self.assertEqual([mode[k] for k in ("mode", "second", "flags", "value")],
                         [0, 2, 0x78, 0x1234])

    def test_a_tag_leaves_after_a_few_scan_periods_or_after_leave_after(self):
        def events(*args):
            out = qx4("--device", self.sim.device, "--json", "watch", *args, "--events")
            self.assertEqual(out.returncode, 0, out.stderr)
            lines = [json.loads(line) for line in out.stdout.splitlines()]
            return [l["event"] for l in lines if "event" in l], lines[-1]

        # Notifications 1.2 s apart: a tag that stays neither leaves nor enters again.
        seen, result = events("5")
        self.assertEqual(seen, ["enter"] * 3)
        self.assertIn("scanPeriodMs", result)
        seen, _ = events("4", "--leave-after", "500")
        self.assertIn("leave", seen)
        out = qx4("--device", self.sim.device, "watch", "1", "--leave-after", "500")
        self.assertEqual(out.returncode, 2)
        self.assertIn("--events", out.stderr)


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

    def test_listen_on_port_0_names_the_port_it_bound(self):
        for where, host in (("127.0.0.1:0", "127.0.0.1"), ("0", "127.0.0.1")):
            sim = SimProcess("--listen", where)
            try:
                self.assertTrue(sim.device.startswith(f"tcp://{host}:"), sim.device)
                self.assertNotEqual(sim.device.rsplit(":", 1)[1], "0")
                code, result = run_json("--device", sim.device, "inventory")
                self.assertEqual((code, result["uid"]), (0, TAG_ONE))
            finally:
                sim.close()


        sim = SimProcess()
        sim.process.stdin.write("lea")  # no end of line yet
        sim.process.stdin.flush()
        sim.process.terminate()
        self.assertEqual(sim.process.wait(timeout=5), 0)

    def test_sigterm_ends_it_while_auto_scan_fills_a_line_nobody_reads(self):
        sim = SimProcess("--scan-period", "1")
        try:
            # Auto-scan left on by a client that went away: notifications pile up unread.
            out = qx4("--device", sim.device, "op-mode", "1", "0", "0x78", "10")
            self.assertEqual(out.returncode, 0, out.stderr)
            time.sleep(8)
            sim.process.terminate()
            self.assertEqual(sim.process.wait(timeout=5), 0)
        finally:
            if sim.process.poll() is None:
                sim.process.kill()
                sim.process.wait()

    def test_a_late_reply_does_not_answer_the_next_run(self):
        sim = SimProcess("--delay", "300")
        try:
            common = ("--device", sim.device, "--uid", TAG_TWO, "--block-size", "8")
            qx4(*common, "write", "0", "00112233445566778899AABBCCDDEEFF")
            out = qx4("--device", sim.device, "--timeout", "50", "version")
            self.assertEqual(out.returncode, 3)
            for _ in range(2):  # the version text arrives during the first of them
                out = qx4("--device", sim.device, "--json", "inventory")
                self.assertEqual(out.returncode, 0, out.stderr)
                self.assertEqual(json.loads(out.stdout)["uid"], "E004010012345678")
            # The same kind of command: the late answer of block 0 is no answer for block 1.
            out = qx4(*common, "--timeout", "100", "read", "0")
            self.assertEqual(out.returncode, 3)
            code, read = run_json(*common, "read", "1")
            self.assertEqual((code, read["blocks"][0]["data"]), (0, "8899AABBCCDDEEFF"))
        finally:
            sim.close()


# ISO 15693 codes that change a tag: writes and locks of blocks, AFI, DSFID, custom, my-d.
WRITE_CODES = {0x21, 0x22, 0x24, 0x27, 0x28, 0x29, 0x2A, 0xA1, 0xA2, 0xA3, 0xB1, 0xB2, 0xB3}


class LoggedSim(SimProcess):
    """qx4sim --log: every request it received, to check what went out frame by frame."""

    def __init__(self, *args):
        super().__init__("--log", *args)
        self.frames = []
        self.answers = queue.Queue()  # the replies to typed commands
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            if line.startswith("<- "):
                self.frames.append(bytes.fromhex(line[3:]))
            elif not line.startswith("-> "):
                self.answers.put(line)

    def command(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return self.answers.get(timeout=10)

    def tag_requests(self):
        """The data field of every tag request (0x78) so far; forgets them."""
        time.sleep(0.2)  # the log reader catches up with the last line
        frames, self.frames = self.frames, []
        return [f[4:4 + f[3]] for f in frames if len(f) > 4 and f[2] == 0x78]

    def writes(self):
        return [r for r in self.tag_requests() if r[0] in WRITE_CODES]


def uid_bytes(uid):
    return bytes.fromhex(uid)[::-1]  # as the reader delivers it


class NothingUnasked(WithSims):
    """What was not asked for is never written: exact bytes, one named tag, reads read."""

    def sim(self, *args, kind=None):
        return super().sim(*args, kind=kind or LoggedSim)

    def test_restore_sends_only_the_dumps_bytes_at_the_tags_block_size(self):
        def pattern(uid, size, count):
            return (uid, size, count, {"blocks": [
                {"data": bytes([0x10 * size + b] * size).hex()} for b in range(count)]})
        tags = {4: ("E004010000000004", "E004010000000044"),
                8: ("E004010000000008", "E004010000000088")}
        field = field_file(self.dir, "f.json", [pattern(tags[4][0], 4, 20),
                                                pattern(tags[8][0], 8, 20),
                                                (tags[4][1], 4, 20, {}), (tags[8][1], 8, 20, {})])
        for pace in ([], ["--baud", "19200"]):
            sim = self.sim("--field", field, *pace)
            for size, (source, _) in tags.items():
                dump = os.path.join(self.dir, f"{size}.json")
                out = qx4("--device", sim.device, "--uid", source, "dump", dump, "--force")
                self.assertEqual(out.returncode, 0, out.stderr)
            for dump_size, (source, _) in tags.items():
                with open(os.path.join(self.dir, f"{dump_size}.json")) as f:
                    data = [bytes.fromhex(b["data"]) for b in json.load(f)["tags"][0]["blocks"]]
                for tag_size, (_, target) in tags.items():
                    sim.tag_requests()
                    code, result = run_json("--device", sim.device, "--uid", target, "restore",
                                            os.path.join(self.dir, f"{dump_size}.json"),
                                            "--force")
                    writes = sim.writes()
                    if dump_size != tag_size:  # also with --force
                        self.assertEqual(code, 1)
                        self.assertIn(f"blocks hold {dump_size} bytes, the tag's {tag_size}",
                                      result["error"])
                        self.assertEqual(writes, [])
                        continue
                    self.assertEqual((code, result["verified"]), (0, 20), result)
                    self.assertTrue(writes)
                    for w in writes:
                        k = dump_size
                        first, count = (w[1], 1) if w[0] == 0x21 else (w[1], w[2] + 1)
                        body = w[2:2 + k] if w[0] == 0x21 else w[3:3 + count * k]
                        self.assertEqual(body, b"".join(data[first:first + count]))
                        self.assertEqual(len(w), (2 if w[0] == 0x21 else 3) + count * k + 9)
                        self.assertEqual(w[-8:], uid_bytes(target))

    def test_what_a_dump_does_not_know_is_left_alone(self):
        plain, set_up = "E004010000000001", "E004010000000002"
        field = field_file(self.dir, "f.json", [
            (plain, 4, 8, {"simulation": {"systemInfo": False}}),
            (set_up, 4, 8, {"afi": 0x10, "dsfid": 0x20})])
        sim = self.sim("--field", field)
        dump = os.path.join(self.dir, "plain.json")
        self.assertEqual(qx4("--device", sim.device, "--uid", plain, "--blocks", "8", "dump",
                             dump).returncode, 0)
        with open(dump) as f:
            tag = json.load(f)["tags"][0]
        self.assertEqual((tag["afi"], tag["dsfid"], tag["afiLocked"], tag["dsfidLocked"]),
                         (None, None, None, None))
        code, result = run_json("--device", sim.device, "--uid", set_up, "restore", dump,
                                "--force")
        self.assertEqual(code, 0, result)
        self.assertEqual((result["afiOutcome"], result["dsfidOutcome"]), ("unknown", "unknown"))
        self.assertIn("the dump does not hold the AFI", result["unknown"])
        code, info = run_json("--device", sim.device, "--uid", set_up, "info")
        self.assertEqual((info["afi"], info["dsfid"]), (0x10, 0x20))
        self.assertNotIn(0x27, [w[0] for w in sim.writes()])
        code, diff = run_json("--device", sim.device, "--uid", set_up, "diff", dump)
        self.assertEqual([d["what"] for d in diff["differences"]], ["uid"])
        self.assertIn("the dump does not hold the DSFID", diff["notCompared"])

    def test_reads_never_write(self):
        sim = self.sim()
        dump = os.path.join(self.dir, "d.json")
        common = ("--device", sim.device, "--uid", TAG_ONE)
        for args in (["dump", dump], ["diff", dump], ["info"], ["read", "0", "4"],
                     ["--option", "read", "0"], ["view", dump]):
            out = qx4(*common, *args)
            self.assertEqual(out.returncode, 0, (args, out.stderr))
            self.assertEqual(sim.writes(), [], args)
        out = qx4(*common, "demo")  # a reader that is not simulated
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("not written", out.stderr)
        self.assertEqual(sim.writes(), [])
        self.assertEqual(qx4(*common, "demo", "--write").returncode, 0)
        self.assertEqual([w[:2] for w in sim.writes()], [bytes([0x21, 2])])
        # The lock probe writes the values back only on request, and finds the lock.
        qx4(*common, "lock-afi", "--yes")
        sim.tag_requests()
        code, _ = run_json(*common, "dump", dump, "--force", "--probe-locks")
        self.assertEqual([w[0] for w in sim.writes()], [0x27, 0x29])
        self.assertEqual(blocks_of(dump, TAG_ONE)["afiLocked"], True)
        self.assertEqual(blocks_of(dump, TAG_ONE)["dsfidLocked"], False)

    def test_demo_writes_one_named_tag_or_none(self):
        sim = self.sim()
        out = qx4("--device", sim.device, "demo", "--write")
        self.assertEqual(out.returncode, 2)
        self.assertIn("3 tags in the field", out.stderr)
        self.assertIn(TAG_ONE, out.stderr)
        self.assertEqual(sim.writes(), [])
        code, result = run_json("--device", sim.device, "--uid", TAG_TWO, "demo", "--write")
        self.assertEqual((code, result["uid"]), (0, TAG_TWO))
        writes = sim.writes()
        self.assertEqual(len(writes), 1)
        self.assertEqual(writes[0][:2], bytes([0x21, 2]))
        self.assertEqual(writes[0][-9] & 0x01, 0x01)  # addressed, to the named tag
        self.assertEqual(writes[0][-8:], uid_bytes(TAG_TWO))

    def test_tag_data_writes_only_the_one_tag_in_the_field(self):
        def sent():  # the 0x4A frames so far
            time.sleep(0.2)  # the log reader catches up
            frames, sim.frames = sim.frames, []
            return [f for f in frames if len(f) > 2 and f[2] == 0x4A]

        sim = self.sim()
        for named in ([], ["--uid", TAG_ONE]):  # its request carries no UID to address
            code, result = run_json("--device", sim.device, *named, "tag-data", "hello")
            self.assertEqual(code, 2, result)
            for uid in (TAG_ONE, TAG_TWO, MYD):
                self.assertIn(uid, result["error"])
        self.assertEqual(sent(), [])
        sim.command("leave " + TAG_TWO)
        sim.command("leave " + MYD)
        code, result = run_json("--device", sim.device, "--uid", TAG_TWO, "tag-data", "hello")
        self.assertEqual(code, 2, result)
        self.assertIn("tag %s is in the field, not %s" % (TAG_ONE, TAG_TWO), result["error"])
        self.assertEqual(sent(), [])
        code, result = run_json("--device", sim.device, "tag-data", "hello")
        self.assertEqual((code, result["uid"]), (0, TAG_ONE))
        self.assertEqual(len(sent()), 1)

    def test_writes_and_locks_address_one_named_tag(self):
        sim = self.sim()
        eight = "0102030405060708"
        commands = [["write", "3", "11223344"], ["lock", "3", "--yes"], ["write2", "4", eight],
                    ["lock2", "4", "--yes"], ["write-bytes", "1", "AABB"], ["write-afi", "1"],
                    ["lock-afi", "--yes"], ["write-dsfid", "1"], ["lock-dsfid", "--yes"],
                    ["myd-write", "2", eight], ["myd-write-byte", "2", "5", "1"],
                    ["myd-write-reread", "2", eight]]
        for addressing in ([], ["--unaddressed"]):
            for args in commands:
                code, result = run_json("--device", sim.device, *addressing, *args)
                self.assertEqual(code, 2, (addressing, args, result))
                for uid in (TAG_ONE, TAG_TWO, MYD):
                    self.assertIn(uid, result["error"])
                self.assertEqual(sim.writes(), [], args)
        some = field_file(self.dir, "some.json", [(TAG_ONE, 4, 28, {})])
        for args in (["dump", "-"], ["diff", some], ["restore", some]):
            code, result = run_json("--device", sim.device, "--unaddressed", *args)
            self.assertEqual(code, 2, result)
            self.assertIn("--unaddressed", result["error"])
        # Named, the result says which tag it went to, in text and JSON.
        code, result = run_json("--device", sim.device, "--uid", TAG_TWO, "write-afi", "7")
        self.assertEqual((code, result["uid"]), (0, TAG_TWO))
        out = qx4("--device", sim.device, "--uid", TAG_TWO, "write", "0", eight * 2)
        self.assertIn("uid: " + TAG_TWO, out.stdout)
        sim.tag_requests()
        # A lock without --yes and without a terminal to ask on: refused, nothing sent.
        code, result = run_json("--device", sim.device, "--uid", TAG_TWO, "lock", "3")
        self.assertEqual(code, 2)
        self.assertIn("cannot be undone", result["error"])
        self.assertEqual(sim.writes(), [])
        # On a terminal it asks: only "y" locks.
        for answer, status in (("n", 2), ("y", 0)):
            controller, terminal = pty.openpty()
            lock = subprocess.Popen([QX4, "--device", sim.device, "--uid", TAG_TWO, "lock", "3"],
                                    stdin=terminal, stdout=subprocess.PIPE, stderr=terminal)
            os.close(terminal)
            asked = b""
            while b"[y/N]" not in asked:
                asked += os.read(controller, 256)
            self.assertIn(b"locking block 3 of tag " + TAG_TWO.encode(), asked)
            os.write(controller, answer.encode() + b"\n")
            self.assertEqual(lock.wait(timeout=30), status)
            lock.stdout.close()
            os.close(controller)
            self.assertEqual([w[0] for w in sim.writes()], [0x22] if answer == "y" else [])
        # With one tag in the field an unaddressed write goes ahead and names it.
        sim.command("leave " + TAG_TWO)
        sim.command("leave " + MYD)
        code, result = run_json("--device", sim.device, "--unaddressed", "write", "1", "0A0B0C0D")
        self.assertEqual((code, result["uid"]), (0, TAG_ONE), result)
        self.assertEqual([bytes(w) for w in sim.writes()], [bytes.fromhex("21010A0B0C0D00")])
        # Naming a tag and sending unaddressed would write whichever tag hears it.
        code, result = run_json("--device", sim.device, "--uid", TAG_TWO, "--unaddressed",
                                "write", "3", "CAFEBABE")
        self.assertEqual(code, 2, result)
        self.assertIn("exclude each other", result["error"])
        self.assertEqual(sim.writes(), [])

    def test_the_option_flag_reaches_writes_locks_and_restore(self):
        sim = self.sim()
        common = ("--device", sim.device, "--uid", TAG_ONE, "--option")
        dump = os.path.join(self.dir, "d.json")
        qx4(*common, "dump", dump)
        qx4(*common, "write", "3", "11223344", "--json")
        qx4(*common, "write-afi", "3")
        qx4(*common, "lock", "9", "--yes")
        self.assertEqual(qx4(*common, "restore", dump).returncode, 0)
        writes = sim.writes()
        self.assertEqual([w[0] for w in writes], [0x21, 0x27, 0x22, 0x21, 0x27])
        for w in writes:
            self.assertEqual(w[-9], 0x11, w.hex())  # option flag and addressed, before the UID

    def test_block_numbers_one_byte_does_not_carry_are_refused_before_any_frame(self):
        sim = self.sim()
        common = ("--device", sim.device, "--uid", TAG_ONE)
        for args in (["read", "256"], ["read", "-1"], ["read", "250", "7"], ["write", "256", "00"],
                     ["lock", "256", "--yes"], ["write2", "255", "00" * 8],
                     ["security", "200", "57"], ["myd-read", "256"]):
            out = qx4(*common, *args)
            self.assertEqual(out.returncode, 2, args)
            self.assertEqual(sim.tag_requests(), [], args)
        self.assertEqual(qx4(*common, "write", "255", "00000000" * 2).returncode, 2)
        self.assertEqual(sim.writes(), [])


class StaleAnswers(unittest.TestCase):
    """A late answer from an earlier run is never taken for a later run's own."""

    def field(self, directory):
        # Every block tells its number: block b holds b b b b.
        return field_file(directory, "numbered.json", [(TAG_ONE, 4, 28, {"blocks": [
            {"data": bytes([b] * 4).hex()} for b in range(28)]})])

    def check(self, delay, first, second, expected):
        with tempfile.TemporaryDirectory() as tmp:
            sim = SimProcess("--field", self.field(tmp), "--delay", str(delay))
            try:
                out = qx4("--device", sim.device, *first)
                self.assertEqual(out.returncode, 3, out.stdout)
                code, result = run_json("--device", sim.device, *second)
                if code == 0:
                    self.assertEqual(result["reply"] if "reply" in result else
                                     [b["data"] for b in result["blocks"]], expected)
                else:
                    self.assertEqual(code, 3)
                    self.assertNotIn("blocks", result)
                    self.assertNotIn("reply", result)
                return code
            finally:
                sim.close()

    def test_two_time_outs_in_one_run(self):
        uid = uid_bytes(TAG_ONE).hex().upper()
        self.check(600, ["--timeout", "300", "--uid", TAG_ONE, "read", "0", "4"],
                   ["raw", "230A0101" + uid], "23" + "0A" * 4 + "0B" * 4)

    def test_an_answer_later_than_a_second(self):
        uid = uid_bytes(TAG_ONE).hex().upper()
        self.check(1500, ["--timeout", "200", "raw", "200001" + uid],
                   ["raw", "200501" + uid], "20" + "05" * 4)

    def test_dump_and_restore_time_outs(self):
        with tempfile.TemporaryDirectory() as tmp:
            sim = SimProcess("--field", self.field(tmp))
            dump = os.path.join(tmp, "d.json")
            qx4("--device", sim.device, "--uid", TAG_ONE, "dump", dump)
            sim.close()
            with open(dump) as f:
                text = f.read()
        with tempfile.TemporaryDirectory() as tmp:
            dump = os.path.join(tmp, "d.json")
            with open(dump, "w") as f:
                f.write(text.replace('"05050505"', '"55555555"'))
            for command in (["restore", dump], ["dump", os.path.join(tmp, "new.json")]):
                self.check(400, ["--timeout", "150", "--uid", TAG_ONE, *command],
                           ["--uid", TAG_ONE, "read", "6"], ["06060606"])


class SilentReader(WithSims):
    """A reader that goes silent ends a dump or restore at its first time-out."""

    def unanswered(self, trace):
        # Frames sent after the last one received: each waited out a time-out.
        lines = [line.split(" ", 1)[1] for line in trace.splitlines() if " " in line]
        last = max((i for i, l in enumerate(lines) if l.startswith("<-")), default=-1)
        return [l for l in lines[last + 1:] if l.startswith("->")]

    def test_restore_stops_at_the_first_time_out(self):
        field = field_file(self.dir, "slow.json", [
            (TAG_TWO, 8, 32, {"simulation": {"multiBlock": False}})])
        dump = os.path.join(self.dir, "dump.json")
        source = self.sim("--field", field)
        qx4("--device", source.device, "dump", dump)
        with open(dump) as f:
            doc = json.load(f)
        for block in doc["tags"][0]["blocks"]:
            block["data"] = "5A" * 8
        with open(dump, "w") as f:
            json.dump(doc, f)
        target = self.sim("--field", field, "--delay", "20", kind=LoggedSim)
        restore = subprocess.Popen([QX4, "--device", target.device, "--timeout", "300",
                                    "--trace", "restore", dump],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            while not target.writes():
                self.assertIsNone(restore.poll())
            target.process.send_signal(signal.SIGSTOP)
            out, trace = restore.communicate(timeout=60)
        finally:
            target.process.send_signal(signal.SIGCONT)
        self.assertEqual(restore.returncode, 1)
        self.assertEqual(len(self.unanswered(trace)), 1, self.unanswered(trace))
        lines = out.splitlines()
        written = next(l for l in lines if l.startswith("written blocks: ")).split()[2:]
        self.assertLess(len(written), 32)
        # The block that met the silence failed; the rest is one line each, not one a block.
        failed = [l for l in lines if l.startswith("failed")]
        self.assertEqual(len(failed), 1, out)
        self.assertIn("did not answer", failed[0])
        first = int(failed[0].split()[2].rstrip(":"))
        self.assertEqual(first, 0 if written == ["none"] else len(written))
        self.assertIn("not done: blocks %d-31 (the reader did not answer" % (first + 1), out)
        if first:
            self.assertIn("written, not read back: blocks 0" + ("-%d" % (first - 1)
                                                                 if first > 1 else ""), out)
        self.assertIn("afi: same", out)

    def test_dump_stops_at_the_first_time_out(self):
        sim = self.sim()
        for named in (["--uid", TAG_ONE], []):  # without one, the tag is looked for first
            sim.process.send_signal(signal.SIGSTOP)
            try:
                out = qx4("--device", sim.device, "--timeout", "200", *named, "--blocks",
                          "28", "--trace", "dump", os.path.join(self.dir, "d.json"))
            finally:
                sim.process.send_signal(signal.SIGCONT)
            self.assertEqual(out.returncode, 3)
            self.assertEqual(len(self.unanswered(out.stderr)), 1, out.stderr)
            self.assertNotIn("gives no system information", out.stderr)

    def test_dump_of_a_uid_not_in_the_field_says_no_tag_answered(self):
        sim = self.sim()
        code, result = run_json("--device", sim.device, "--uid", "E0040100DEADBEEF", "dump",
                                os.path.join(self.dir, "absent.json"))
        self.assertEqual(code, 3)
        self.assertIn("no tag answered", result["error"])
        self.assertNotIn("gives no system information", json.dumps(result))
        self.assertFalse(os.path.exists(os.path.join(self.dir, "absent.json")))


class Files(unittest.TestCase):
    """Files are never destroyed; write errors fail the run."""

    def test_state_refuses_what_it_cannot_read_and_serialises_writers(self):
        with tempfile.TemporaryDirectory() as tmp:
            state = os.path.join(tmp, "state.json")
            for text in ("{not json", "Filetype: Flipper NFC device\nVersion: 4\n",
                         '{"FileType": "15693 v4", "Card": {}}'):
                with open(state, "w") as f:
                    f.write(text)
                out = qx4("--simulate", "--state", state, "--uid", TAG_ONE, "write", "0",
                          "11223344")
                self.assertEqual(out.returncode, 2, out.stderr)
                self.assertIn("left as it is", out.stderr)
                with open(state) as f:
                    self.assertEqual(f.read(), text)
            os.unlink(state)
            writers = [subprocess.Popen([QX4, "--simulate", "--state", state, "--uid", TAG_ONE,
                                         "write", str(b), f"{b:02X}" * 4],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                       for b in range(10)]
            for w in writers:
                self.assertEqual(w.wait(timeout=60), 0, w.stderr.read())
                w.stderr.close()
            code, read = run_json("--simulate", "--state", state, "--uid", TAG_ONE, "read", "0",
                                  "10")
            self.assertEqual([b["data"] for b in read["blocks"]],
                             [f"{b:02X}" * 4 for b in range(10)])
            self.assertEqual(sorted(os.listdir(tmp)), ["state.json", "state.json.lock"])

    def test_dump_keeps_files_and_reports_write_errors(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "keep.json")
            with open(path, "w") as f:
                f.write("mine")
            code, result = run_json("--simulate", "--uid", TAG_ONE, "dump", path)
            self.assertEqual(code, 2)
            self.assertIn("--force", result["error"])
            with open(path) as f:
                self.assertEqual(f.read(), "mine")
            self.assertEqual(qx4("--simulate", "--uid", TAG_ONE, "dump", path,
                                 "--force").returncode, 0)
            self.assertEqual(blocks_of(path, TAG_ONE)["uid"], TAG_ONE)
            self.assertEqual(os.listdir(tmp), ["keep.json"])
        with open("/dev/full", "w") as full:
            for args in (["dump", "-"], ["--json", "read", "0"], ["read", "0"]):
                out = subprocess.run([QX4, "--simulate", "--uid", TAG_ONE, *args], stdout=full,
                                     stderr=subprocess.PIPE, text=True, timeout=30)
                self.assertEqual(out.returncode, 1, args)
                self.assertIn("cannot write", out.stderr)

    def test_watch_restores_the_mode_on_every_way_out(self):
        sim = SimProcess("--scan-period", "50")
        try:
            out = subprocess.run(f"{QX4} --device {sim.device} --json watch | head -n 1",
                                 shell=True, capture_output=True, text=True, timeout=30)
            self.assertIn('"kind"', out.stdout)
            for stop in (signal.SIGHUP, signal.SIGQUIT):
                watch = subprocess.Popen([QX4, "--device", sim.device, "watch"],
                                         stdout=subprocess.DEVNULL)
                time.sleep(0.8)
                watch.send_signal(stop)
                watch.wait(timeout=10)
            mode = json.loads(qx4("--device", sim.device, "--json", "op-mode").stdout)
            self.assertEqual(mode["mode"], 0)
        finally:
            sim.close()


if __name__ == "__main__":
    unittest.main()
