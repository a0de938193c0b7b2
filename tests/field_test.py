#!/usr/bin/env python3
"""qx4 on a field with a real one's faults (replies lost on the air, tags that refuse
multi-block commands, tags that leave, several tags answering at once), made by a proxy
between qx4 and the simulator; and `qx4 probe`, which must send nothing that writes."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

from fault_proxy import FaultProxy, Request

BUILD = sys.argv.pop(1) if len(sys.argv) > 1 else "build"
QX4 = os.path.join(BUILD, "cli", "qx4")
QX4SIM = os.path.join(BUILD, "sim", "qx4sim")

UID = "E004010012345678"
OTHER = "E007000187654321"
WRITE_CODES = {0x21, 0x22, 0x24, 0x27, 0x28, 0x29, 0x2A, 0xA1, 0xA2, 0xA3, 0xB1, 0xB2, 0xB3}


def qx4(*args, timeout=60):
    return subprocess.run([QX4, *args], capture_output=True, text=True, timeout=timeout)


def run_json(*args):
    out = qx4("--json", *args)
    return out.returncode, json.loads(out.stdout)


class Field(unittest.TestCase):
    """A simulator with the tags given, behind a proxy with the rule given."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.sims, self.proxies = [], []

    def tearDown(self):
        for proxy in self.proxies:
            proxy.close()
        for sim in self.sims:
            sim.terminate()
            sim.wait(timeout=10)
            sim.stdin.close()
            sim.stdout.close()
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def field(self, tags, name="field.json"):
        """tags: (uid, block size, block count, data of block i)."""
        entries = [{"uid": uid, "blockSize": size,
                    "blocks": [{"data": data(i)} for i in range(count)]}
                   for uid, size, count, data in tags]
        with open(self.path(name), "w") as f:
            json.dump({"tags": entries}, f)
        return self.path(name)

    def proxy(self, field, rule=None):
        sim = subprocess.Popen([QX4SIM, "--listen", "0", "--field", field],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.sims.append(sim)
        sim.stdout.readline()
        proxy = FaultProxy(sim.stdout.readline().split("=")[1].strip(), rule)
        self.proxies.append(proxy)
        return proxy

    def blocks(self, path, uid=UID):
        with open(path) as f:
            tag = next(t for t in json.load(f)["tags"] if t["uid"] == uid)
        return [b["data"] for b in tag["blocks"]]


def numbered(size):
    return lambda i: ("%02X" % (i & 0xFF)) * size


class LostReplies(Field):
    def test_a_crc_error_mid_dump_is_retried_and_said(self):
        seen = []

        def third_read_lost(request):
            if request.code == 0x23:
                seen.append(request)
                if len(seen) == 3:
                    return ("lost", 1)
        proxy = self.proxy(self.field([(UID, 32, 256, numbered(32))]), third_read_lost)
        code, result = run_json("--device", proxy.url, "--uid", UID, "dump", self.path("d.json"))
        self.assertEqual(code, 0, result)
        self.assertEqual(result["retries"], 1)
        self.assertIn("NACK 0x01 (CRC error in the tag's reply)", " ".join(result["notes"]))
        self.assertEqual(self.blocks(self.path("d.json")), [numbered(32)(i) for i in range(256)])
        # The lost frame went again, asking for the same blocks: 37 runs and one retry.
        self.assertEqual(len(seen), 38)
        self.assertEqual(seen[2].raw, seen[3].raw)

    def test_retries_are_bounded_and_writes_are_sent_again_with_the_same_bytes(self):
        lost = []

        def block_5_always_lost(request):
            if request.block_range() == (5, 5) and request.code == 0x21:
                lost.append(request.raw)
                return ("lost", 3)
        proxy = self.proxy(self.field([(UID, 4, 28, numbered(4))]), block_5_always_lost)
        out = qx4("--device", proxy.url, "--uid", UID, "--block-size", "4", "write", "5",
                  "A1A2A3A4")
        self.assertEqual(out.returncode, 1)
        self.assertIn("NACK 0x03", out.stderr)
        self.assertEqual(len(lost), 4)  # the first try and three retries
        self.assertEqual(len(set(lost)), 1)
        self.assertIn("retried 3 frame(s)", out.stderr)


class FewerExchanges(Field):
    def test_reads_in_the_longest_runs_and_no_system_information_when_given(self):
        proxy = self.proxy(self.field([(UID, 4, 256, numbered(4))]))
        code, result = run_json("--device", proxy.url, "--uid", UID, "--block-size", "4",
                                "read", "0", "256")
        self.assertEqual(code, 0, result)
        self.assertEqual([r.code for r in proxy.tag_requests()], [0x23] * 5)  # 63 a frame
        proxy.requests.clear()
        qx4("--device", proxy.url, "--uid", UID, "--block-size", "4", "write", "0", "00112233")
        self.assertEqual([r.code for r in proxy.tag_requests()], [0x21])
        proxy.requests.clear()
        code, result = run_json("--device", proxy.url, "--uid", UID, "--option", "read", "0", "4")
        self.assertEqual([r.code for r in proxy.tag_requests()], [0x2B, 0x23])


class MultiBlockRefusals(Field):
    def check(self, verdict, longest):
        """A tag that answers Read/Write Multiple Blocks of more than `longest` blocks
        with `verdict`: dump and restore still work, in runs it takes."""
        def refuse(request):
            span = request.block_range()
            if request.code in (0x23, 0x24) and span[1] - span[0] + 1 > longest:
                return verdict
        proxy = self.proxy(self.field([(UID, 4, 64, numbered(4))]), refuse)
        dump = self.path("d%d.json" % len(self.proxies))
        code, result = run_json("--device", proxy.url, "--uid", UID, "dump", dump)
        self.assertEqual(code, 0, (verdict, result))
        self.assertEqual(self.blocks(dump), [numbered(4)(i) for i in range(64)])
        self.assertTrue(result["notes"], result)
        with open(dump) as f:
            doc = json.load(f)
        for block in doc["tags"][0]["blocks"]:
            block["data"] = "C0FFEE00"
        with open(dump, "w") as f:
            json.dump(doc, f)
        proxy.requests.clear()
        code, result = run_json("--device", proxy.url, "--uid", UID, "restore", dump)
        self.assertEqual(code, 0, (verdict, result))
        self.assertEqual((result["written"], result["verified"]), (64, 64))
        # Refused once per kind of command, then never again.
        refused = [r for r in proxy.tag_requests() if r.code in (0x23, 0x24)
                   and r.block_range()[1] - r.block_range()[0] + 1 > longest]
        self.assertLessEqual(len(refused), 2 * 3, [r.raw.hex() for r in refused])
        return proxy

    def test_not_supported_unknown_command_and_silence_fall_back_to_single_blocks(self):
        for verdict in (("absent", 5, 0x01), ("absent", 5, 0x02), ("absent", 4)):
            with self.subTest(verdict=verdict):
                proxy = self.check(verdict, 1)
                self.assertFalse([r for r in proxy.tag_requests() if r.code in (0x23, 0x24)
                                  and r.block_range()[0] != r.block_range()[1]][2:])

    def test_an_unknown_error_finds_the_longest_run_the_tag_takes(self):
        proxy = self.check(("absent", 5, 0x0F), 16)
        runs = [last - first + 1 for first, last in map(Request.block_range,
                                                           proxy.tag_requests(0x23))]
        # Halved down to what the tag reads, not to one block.
        self.assertEqual(max(runs[2:]), 12, runs)


class TagLeaves(Field):
    def test_restore_stops_where_the_tag_left_and_says_so(self):
        left = []

        def single_blocks_and_gone_from_block_161(request):
            if request.code == 0x24:
                return ("absent", 5, 0x01)
            # The tag is gone; the reader still answers its own commands.
            if request.code is not None and (
                    left or (request.code == 0x21 and request.block_range()[0] >= 161)):
                left.append(request)
                return ("absent", 4)
        proxy = self.proxy(self.field([(UID, 4, 256, numbered(4))]))
        dump = self.path("d.json")
        self.assertEqual(qx4("--device", proxy.url, "--uid", UID, "dump", dump).returncode, 0)
        with open(dump) as f:
            doc = json.load(f)
        for block in doc["tags"][0]["blocks"]:
            block["data"] = "DEADBEEF"
        with open(dump, "w") as f:
            json.dump(doc, f)
        proxy.rule = single_blocks_and_gone_from_block_161
        out = qx4("--device", proxy.url, "--uid", UID, "restore", dump)
        self.assertEqual(out.returncode, 1)
        self.assertIn("tag left after block 160: 161 written, 95 not written", out.stdout)
        self.assertIn("tag left after block 160: 161 written, 95 not written", out.stderr)
        self.assertIn("not written: 95", out.stdout)
        self.assertNotIn("failed block", out.stdout)
        # Block 161 and its retry met no tag: nothing more was sent.
        self.assertEqual(len(left), 2, [r.raw.hex() for r in left])
        proxy.rule = lambda request: None
        code, result = run_json("--device", proxy.url, "--uid", UID, "restore", dump)
        self.assertEqual((code, result["written"], result["same"]), (0, 95, 161))
        code, result = run_json("--device", proxy.url, "--uid", UID, "read", "0", "256")
        self.assertEqual([b["data"] for b in result["blocks"]], ["DEADBEEF"] * 256)

    def test_restore_json_and_a_dump_that_loses_its_tag(self):
        reads = []

        def gone_after_two_reads(request):
            if request.code == 0x23:
                reads.append(request)
            if len(reads) > 2 and request.code is not None:
                return ("absent", 4)
        proxy = self.proxy(self.field([(UID, 4, 256, numbered(4))]), gone_after_two_reads)
        code, result = run_json("--device", proxy.url, "--uid", UID, "dump", self.path("d.json"))
        self.assertNotEqual(code, 0)
        self.assertIn("tag left after block 99: 100 read, 156 not read", result["error"])
        self.assertFalse(os.path.exists(self.path("d.json")))
        # Fence, info, two runs read, the run that met no tag, then block 100 once and once
        # again, each refusal followed by a fence of the link's own.
        self.assertLessEqual(len(proxy.requests), 1 + 1 + 3 + 2 * 2)


class Collisions(Field):
    def collide(self, request):
        # Several tags answer a one-slot inventory or a request without a UID: garbled.
        if request.code == 0x01 or (request.code in (0x20, 0x23, 0x2B) and not request.addressed):
            return ("absent", 3)

    def test_inventory_and_unaddressed_reads_name_the_tags_that_collide(self):
        proxy = self.proxy(self.field([(UID, 4, 28, numbered(4)), (OTHER, 8, 32, numbered(8))]),
                           self.collide)
        out = qx4("--device", proxy.url, "read", "0")
        self.assertEqual(out.returncode, 2, out.stderr)
        self.assertIn("2 tags in the field (%s %s)" % (UID, OTHER), out.stderr)
        code, result = run_json("--device", proxy.url, "--unaddressed", "--block-size", "4",
                                "read", "0")
        self.assertNotEqual(code, 0)
        self.assertIn("answer a request without a UID at once", result["error"])
        self.assertIn(OTHER, result["error"])
        # Not retried blindly: the reader's own inventory was asked at once.
        self.assertEqual(len(proxy.tag_requests(0x20)), 1)

    def test_writes_list_the_field_again_after_a_lost_reply(self):
        lost = []

        def first_listing_lost(request):
            if request.code == 0xF0 and not lost:
                lost.append(request)
                return ("lost", 1)
        proxy = self.proxy(self.field([(UID, 4, 28, numbered(4))]), first_listing_lost)
        code, result = run_json("--device", proxy.url, "write", "2", "01020304")
        self.assertEqual((code, result["uid"], result["written"]), (0, UID, 1))
        self.assertEqual(len(proxy.tag_requests(0xF0)), 2)

    def test_one_tag_whose_inventory_reply_was_lost_is_still_found(self):
        proxy = self.proxy(self.field([(UID, 4, 28, numbered(4))]), self.collide)
        code, result = run_json("--device", proxy.url, "read", "3")
        self.assertEqual(code, 0, result)
        self.assertEqual(result["blocks"][0]["data"], numbered(4)(3))


class Probe(Field):
    # What a probe may send: reader settings read (0x4F), tag requests that only read.
    READS = {0x01, 0x20, 0x23, 0x2B, 0x2C, 0xA0, 0xF0}

    def test_probe_sends_only_reads_and_reports_the_reader_and_its_tags(self):
        field = self.field([(UID, 4, 28, numbered(4)), (OTHER, 8, 32, numbered(8))])
        sim = subprocess.Popen([QX4SIM, "--log", "--field", field], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, text=True)
        self.sims.append(sim)
        sim.stdout.readline()
        device = sim.stdout.readline().split("=")[1].strip()
        self.assertEqual(qx4("--device", device, "op-mode", "1", "0", "0x78", "10").returncode, 0)
        out = qx4("--device", device, "probe")
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("eeprom: words 0 to 255 readable", out.stdout)
        self.assertIn("tag %s: iso15693, 32 blocks of 8 bytes" % OTHER, out.stdout)
        code, result = run_json("--device", device, "probe")
        self.assertEqual(code, 0, result)
        self.assertEqual(qx4("--device", device, "op-mode", "0", "0", "0x78", "10").returncode, 0)
        sim.terminate()
        sim.wait(timeout=10)
        lines = sim.stdout.read().splitlines()
        requests = [bytes.fromhex(line[3:]) for line in lines if line.startswith("<- ")]
        # Between the two mode writes of the test: only the probes' own frames.
        first = next(i for i, f in enumerate(requests) if f[2] == 0x4E)
        last = max(i for i, f in enumerate(requests) if f[2] == 0x4E)
        probes = requests[first + 1:last]
        self.assertGreater(len(probes), 100)
        for f in probes:
            self.assertTrue(f[2] == 0x4F or (f[2] == 0x78 and f[4] in self.READS), f.hex())
        self.assertEqual(result["modeFound"], {"mode": 1, "second": 0, "flags": 0x78})
        self.assertTrue(result["modeKept"])
        self.assertTrue(result["fence"]["held"] and result["echo"]["held"])
        self.assertEqual(result["eeprom"]["readable"], 256)
        self.assertEqual([t["uid"] for t in result["tags"]], [UID, OTHER])
        read = result["tags"][1]["read"]
        self.assertEqual((read["data"], read["tries"]), (numbered(8)(0), 5))
        self.assertGreater(read["airMs"], 5)
        self.assertTrue(all(c["answered"] for c in result["commands"]), result["commands"])

    def test_probe_stops_reading_the_eeprom_at_its_first_refusal(self):
        scanning = []

        def forty_words(request):
            # From the probe's first read of several words on (the link's fences, one
            # word each at an address of their own, come before it).
            if request.command == 0x4F and request.data[0] == 0x70:
                if request.data[2] > 1:
                    scanning.append(request)
                if scanning and request.data[1] + request.data[2] > 40:
                    return ("absent", 0x43)
        proxy = self.proxy(self.field([(UID, 4, 28, numbered(4))]), forty_words)
        code, result = run_json("--device", proxy.url, "probe")
        self.assertEqual(code, 0, result)
        self.assertEqual((result["eeprom"]["readable"], result["eeprom"]["refusedAt"]), (40, 40))
        self.assertIn("NACK 0x43", result["eeprom"]["refusal"])
        beyond = [r for r in proxy.requests if r.command == 0x4F and r.data[0] == 0x70
                  and r.data[1] > 40 and r.data[2] > 1]
        self.assertEqual(beyond, [])  # nothing asked past the first refused word


if __name__ == "__main__":
    unittest.main()
