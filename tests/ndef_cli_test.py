#!/usr/bin/env python3
"""qx4 ndef end to end against the simulated reader: format, write, read, erase and
protect on tags of 4- and 32-byte blocks, and the write rules (one named tag, only the
blocks that change, never past the container, read-only and locked tags refused)."""
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

BUILD = sys.argv.pop(1) if len(sys.argv) > 1 else "build"
QX4 = os.path.join(BUILD, "cli", "qx4")

SMALL = "E004010012345678"  # 28 blocks of 4 bytes
LARGE = "E0160400A1B2C3D4"  # 256 blocks of 32 bytes


def write_field(path, tags):
    entries = []
    for uid, size, count, blocks in tags:
        data = [{"data": "00" * size} for _ in range(count)]
        for number, (hex_data, locked) in blocks.items():
            data[number] = {"data": hex_data, "locked": locked}
        entries.append({"uid": uid, "blockSize": size, "blocks": data})
    with open(path, "w") as f:
        json.dump({"tags": entries}, f)


class Ndef(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.state = os.path.join(self.folder.name, "state.json")

    def tearDown(self):
        self.folder.cleanup()

    def field(self, *tags):
        path = os.path.join(self.folder.name, "field.json")
        write_field(path, tags)
        self.field_file = path
        return path

    def qx4(self, *args, field=None):
        # The field counts until the state file exists (a refused run saves no state).
        line = [QX4, "--simulate", "--state", self.state]
        if field or getattr(self, "field_file", None):
            line += ["--field", field or self.field_file]
        return subprocess.run(line + list(args), capture_output=True, text=True, timeout=60)

    def json(self, *args, field=None):
        out = self.qx4("--json", *args, field=field)
        self.assertEqual(len(out.stdout.splitlines()), 1, out.stdout + out.stderr)
        return out.returncode, json.loads(out.stdout)

    def blocks(self, uid, count):
        status, out = self.json("--uid", uid, "read", "0", str(count))
        self.assertEqual(status, 0, out)
        return [b["data"] for b in out["blocks"]]

    def test_format_write_read_erase_on_small_and_large_tags(self):
        field = self.field((SMALL, 4, 28, {}), (LARGE, 32, 256, {}))
        self.assertEqual(self.qx4("--uid", SMALL, "ndef", "format", "--yes",
                                  field=field).returncode, 0)
        self.assertEqual(self.qx4("--uid", LARGE, "ndef", "format", "--yes").returncode, 0)
        self.assertEqual(self.blocks(SMALL, 2), ["E1400D01", "0300FE00"])
        # 8 KiB: the eight-byte container.
        self.assertTrue(self.blocks(LARGE, 1)[0].startswith("E2400001000003FF0300FE"))

        status, out = self.json("--uid", LARGE, "ndef", "write", "--uri", "https://example.com/a",
                                "--text", "こんにちは", "--lang", "ja", "--text", "plain")
        self.assertEqual(status, 0, out)
        self.assertEqual(out["written"], [0, 1])
        status, out = self.json("--uid", LARGE, "ndef", "read")
        self.assertEqual(status, 0, out)
        self.assertEqual(out["capabilityContainer"]["size"], 8)
        self.assertEqual([r["kind"] for r in out["records"]], ["uri", "text", "text"])
        self.assertEqual(out["records"][0]["uri"], "https://example.com/a")
        self.assertEqual(out["records"][1]["text"], "こんにちは")
        self.assertEqual(out["records"][1]["language"], "ja")
        self.assertEqual(out["records"][2]["language"], "en")
        self.assertEqual(out["records"][0]["payload"], "04" + b"example.com/a".hex().upper())

        # A MIME record and a raw message from files, after the URI, in order.
        mime = os.path.join(self.folder.name, "v.txt")
        with open(mime, "wb") as f:
            f.write(b"BEGIN:VCARD\r\nEND:VCARD\r\n")
        raw = os.path.join(self.folder.name, "m.ndef")
        with open(raw, "wb") as f:
            f.write(bytes.fromhex("D50000"))  # one record of unknown type, nothing in it
        status, out = self.json("--uid", SMALL, "ndef", "write", "--uri", "tel:+123",
                                "--mime", "text/vcard", mime, "--message", raw)
        self.assertEqual(status, 0, out)
        out = self.qx4("--uid", SMALL, "ndef", "read")
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("record 1: URI tel:+123", out.stdout)
        self.assertIn("record 2: MIME text/vcard (24 bytes)", out.stdout)
        self.assertIn("record 3: unknown", out.stdout)

        # Erase rewrites only the TLV's block.
        status, out = self.json("--uid", SMALL, "ndef", "erase")
        self.assertEqual((status, out["written"]), (0, [1]), out)
        self.assertEqual(self.blocks(SMALL, 2), ["E1400D01", "0300FE01"])

    def test_read_goes_no_further_than_the_ndef_ends_in_read_multiple_runs(self):
        field = self.field((SMALL, 4, 28, {0: ("E1400D01", False), 1: ("0310D101", False),
                                           2: ("0C550465", False), 3: ("78616D70", False),
                                           4: ("6C652E63", False), 5: ("6F6DFE00", False)}))
        out = self.qx4("--trace", "--uid", SMALL, "ndef", "read", field=field)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("record 1: URI https://example.com", out.stdout)
        reads = re.findall(r"-> ISO15693 ReadMultipleBlocks .*\| 02 00 78 0C 23 (\w\w) (\w\w)",
                           out.stderr)
        # CC and TLV header, then up to the block where the TLV ends (byte 21: block 5).
        self.assertEqual(reads, [("00", "01"), ("02", "03")])
        self.assertNotIn("ReadSingleBlock", out.stderr)

    def test_write_rules(self):
        field = self.field((SMALL, 4, 28, {0: ("E1400D01", False), 1: ("0300FE00", False),
                                           3: ("00000000", True)}),
                           (LARGE, 32, 4, {0: ("E1430300" + "0300FE" + "00" * 25, False)}))
        # Several tags: a write names one.
        out = self.qx4("ndef", "write", "--uri", "http://a.b", field=field)
        self.assertEqual(out.returncode, 2)
        self.assertIn("--uid", out.stderr)
        # A read-only container: refused, nothing written.
        status, out = self.json("--uid", LARGE, "ndef", "write", "--uri", "http://a.b")
        self.assertEqual(status, 2)
        self.assertIn("read-only", out["error"])
        # Longer than the container's 104 bytes: refused before any write.
        status, out = self.json("--uid", SMALL, "ndef", "write", "--text", "x" * 100)
        self.assertEqual(status, 2)
        self.assertIn("104", out["error"])
        # Block 3 would change but is locked: named, nothing written.
        status, out = self.json("--uid", SMALL, "ndef", "write", "--uri", "http://example.org")
        self.assertEqual(status, 2)
        self.assertIn("block(s) 3 must change but are locked", out["error"])
        self.assertEqual(self.blocks(SMALL, 2), ["E1400D01", "0300FE00"])
        # A message that ends before block 3 goes.
        empty = os.path.join(self.folder.name, "empty.ndef")
        with open(empty, "wb") as f:
            f.write(bytes.fromhex("D00000"))
        status, out = self.json("--uid", SMALL, "ndef", "write", "--message", empty)
        self.assertEqual((status, out["written"]), (0, [1, 2]), out)
        # Format and protect ask, and need --yes without a terminal.
        for action in ("format", "protect"):
            out = self.qx4("--uid", SMALL, "ndef", action)
            self.assertEqual(out.returncode, 2)
            self.assertIn("--yes", out.stderr)
        # Bad records are bad usage.
        self.assertEqual(self.qx4("--uid", SMALL, "ndef", "write").returncode, 2)
        self.assertEqual(self.qx4("--uid", SMALL, "ndef", "write", "--lang", "en").returncode, 2)
        self.assertEqual(self.qx4("--uid", SMALL, "ndef", "write", "--mime", "a/b",
                                  "/nonexistent").returncode, 2)

    def test_format_announces_read_multiple_only_where_the_tag_answers_it(self):
        path = os.path.join(self.folder.name, "single.json")
        write_field(path, [(SMALL, 4, 28, {})])
        with open(path) as f:
            field = json.load(f)
        field["tags"][0]["simulation"] = {"multiBlock": False}
        with open(path, "w") as f:
            json.dump(field, f)
        self.field_file = path
        self.assertEqual(self.qx4("--uid", SMALL, "ndef", "format", "--yes").returncode, 0)
        status, out = self.json("--uid", SMALL, "ndef", "read")
        self.assertEqual(status, 0, out)
        self.assertFalse(out["capabilityContainer"]["multipleBlockRead"])
        self.assertEqual(self.blocks(SMALL, 2), ["E1400D00", "0300FE00"])

    def test_protect_makes_the_container_read_only_and_locks_the_area(self):
        field = self.field((SMALL, 4, 28, {}))
        self.assertEqual(self.qx4("--uid", SMALL, "ndef", "format", "--yes",
                                  field=field).returncode, 0)
        status, out = self.json("--uid", SMALL, "ndef", "protect", "--yes")
        self.assertEqual(status, 0, out)
        self.assertEqual(out["lockedNow"], list(range(27)))  # 4 + 104 bytes: block 27 stays
        status, out = self.json("--uid", SMALL, "--option", "read", "0", "1")
        self.assertEqual(out["blocks"][0], {"block": 0, "data": "E1430D01", "locked": True})
        status, out = self.json("--uid", SMALL, "ndef", "write", "--uri", "http://a.b")
        self.assertEqual(status, 2)
        status, out = self.json("--uid", SMALL, "ndef", "read")
        self.assertEqual((status, out["capabilityContainer"]["write"]), (0, "never"))


class ViewAndFieldFile(unittest.TestCase):
    EXAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples",
                           "ndef-tags.json")

    def test_view_shows_the_ndef_of_every_dump_format(self):
        with tempfile.TemporaryDirectory() as folder:
            for name in ("tags.json", "tags.nfc", "tags.proxmark.json"):
                path = os.path.join(folder, name)
                fmt = {"tags.json": "qx4", "tags.nfc": "flipper"}.get(name, "proxmark")
                if fmt == "qx4":
                    path = self.EXAMPLE
                else:
                    # Flipper and Proxmark3 files hold one tag each: the large one.
                    out = subprocess.run([QX4, "--simulate", "--field", self.EXAMPLE, "--uid",
                                          LARGE, "dump", "--format", fmt, path],
                                         capture_output=True, text=True, timeout=60)
                    self.assertEqual(out.returncode, 0, out.stderr)
                out = subprocess.run([QX4, "view", path], capture_output=True, text=True,
                                     timeout=60)
                self.assertEqual(out.returncode, 0, out.stderr)
                self.assertIn("ndef record 1: URI https://example.com/qx4", out.stdout, name)
                self.assertIn("ndef record 2: Text [en, UTF-8] QX4 NDEF tag", out.stdout, name)
                self.assertIn("ndef: CC E2 v1.0", out.stdout, name)

    def test_the_readme_tour_line(self):
        out = subprocess.run([QX4, "--simulate", "--field", self.EXAMPLE, "--uid",
                              "E00401004E444546", "ndef", "read"],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("record 1: URI https://example.com/qx4", out.stdout)


if __name__ == "__main__":
    unittest.main()
