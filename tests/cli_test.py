#!/usr/bin/env python3
"""qx4 end to end against the simulated reader: usage, exit statuses, JSON, trace,
dump -> restore -> diff across two readers, watch."""
import json
import os
import socket
import subprocess
import sys
import tempfile
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


class Commands(unittest.TestCase):
    def test_reader_and_tag_commands_in_text_and_json(self):
        self.assertIn("version: QX4SIM", qx4("--simulate", "version").stdout)
        code, info = run_json("--simulate", "info")
        self.assertEqual(info["uid"], TAG_ONE)
        self.assertEqual((info["blockCount"], info["blockSize"]), (28, 4))
        code, read = run_json("--simulate", "--option", "read", "0", "2")
        self.assertEqual([b["data"] for b in read["blocks"]], ["51583420", "74616720"])
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
        self.assertIn("NACK 5/0x10", result["error"])
        self.assertEqual(result["readerText"], result["isoText"])
        code, result = run_json("--simulate", "--uid", "E0040100DEADBEEF", "read", "0")
        self.assertEqual((code, result["nack"]), (1, 4))
        self.assertIn("no tag answered", result["error"])
        self.assertIn("タグからの応答なし", result["error"])  # the reader's own text follows
        sim = SimProcess()
        try:
            sim.process.send_signal(19)  # SIGSTOP: the reader goes silent
            out = qx4("--device", sim.device, "--timeout", "200", "version")
            self.assertEqual(out.returncode, 1)
            self.assertIn("did not answer the link check", out.stderr)
        finally:
            sim.process.send_signal(18)
            sim.close()

    def test_trace_decodes_every_frame(self):
        out = qx4("--simulate", "--trace", "version")
        lines = [line.split(" ", 1)[1] for line in out.stderr.splitlines()]
        self.assertIn("-> ReadSetting RomVersion | 02 00 4F 02 90 00 03 E6 0D", lines)
        self.assertTrue(any(l.startswith("<- ACK RomVersion | 02 00 30") for l in lines))
        out = qx4("--simulate", "--trace", "--uid", TAG_ONE, "read", "200")
        self.assertIn("<- NACK 5/0x10 The specified block is not available", out.stderr)

    def test_raw_and_findafi(self):
        code, result = run_json("--simulate", "raw", "2B00")
        self.assertEqual(code, 0, result)
        self.assertTrue(result["reply"].startswith("2B0F78563412"))
        with tempfile.TemporaryDirectory() as tmp:
            field = field_file(tmp, "afi.json", [(TAG_ONE, 4, 8, {"afi": 0x42}),
                                                 (TAG_TWO, 8, 8, {"afi": 0x07})])
            code, result = run_json("--simulate", "--field", field, "findafi")
            self.assertEqual(code, 0, result)
            self.assertEqual(result["answered"], [{"afi": 7, "uid": TAG_TWO},
                                                  {"afi": 0x42, "uid": TAG_ONE}])

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


class DumpRestoreDiff(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.sims = []

    def tearDown(self):
        for sim in self.sims:
            sim.close()
        self.tmp.cleanup()

    def sim(self, *args):
        sim = SimProcess(*args)
        self.sims.append(sim)
        return sim

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
        target = self.sim("--field", field, "--delay", "50")
        restore = subprocess.Popen([QX4, "--device", target.device, "--uid", TAG_TWO, "--json",
                                    "restore", dump], stdout=subprocess.PIPE, text=True)
        time.sleep(2.4)
        self.assertIn("left the field", target.command("leave " + TAG_TWO))
        out, _ = restore.communicate(timeout=60)
        self.assertEqual(restore.returncode, 1)
        result = json.loads(out)
        self.assertGreater(result["written"], 0)
        self.assertGreater(result["failed"], 0)
        self.assertTrue(all(f["nack"] == 4 for f in result["failures"]), result["failures"])
        # Written ones could not be read back: every block ends failed, the written named.
        self.assertEqual(len(result["writtenBlocks"]), result["written"])
        self.assertEqual({f["block"] for f in result["failures"]}, set(range(32)))
        self.assertEqual(result["verified"], 0)
        # The other tag was never written.
        code, other = run_json("--device", target.device, "--uid", TAG_ONE, "read", "0", "28")
        self.assertTrue(all(b["data"] == "00000000" for b in other["blocks"]))

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
                 ("odd.json", json.dumps(PROXMARK).replace("8899AABB", "8899AAB"), "not hex pairs"),
                 ("junk.bin", "\x00\x01garbage", "not a dump this program reads"))
        for name, text, why in cases:
            path = self.write(name, text)
            out = qx4("view", path)
            self.assertEqual(out.returncode, 1, name)
            self.assertIn(path, out.stderr)
            self.assertIn(why, out.stderr)
            sim = subprocess.run([QX4SIM, "--field", path], capture_output=True, text=True,
                                 timeout=10)
            self.assertEqual(sim.returncode, 1)
            self.assertIn(why, sim.stderr)


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
                self.assertEqual(restore.returncode, 1)
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
            common = ("--device", sim.device, "--uid", TAG_TWO, "--block-size", "8")
            qx4(*common, "write", "0", "00112233445566778899AABBCCDDEEFF")
            out = qx4("--device", sim.device, "--timeout", "50", "version")
            self.assertEqual(out.returncode, 1)
            for _ in range(2):  # the version text arrives during the first of them
                out = qx4("--device", sim.device, "--json", "inventory")
                self.assertEqual(out.returncode, 0, out.stderr)
                self.assertEqual(json.loads(out.stdout)["uid"], "E004010012345678")
            # The same kind of command: the late answer of block 0 is no answer for block 1.
            out = qx4(*common, "--timeout", "100", "read", "0")
            self.assertEqual(out.returncode, 1)
            code, read = run_json(*common, "read", "1")
            self.assertEqual((code, read["blocks"][0]["data"]), (0, "8899AABBCCDDEEFF"))
        finally:
            sim.close()


if __name__ == "__main__":
    unittest.main()
