#!/usr/bin/env python3
"""qx4 dump, restore and diff against qx4sim's field profile: air time, a USB-serial
adapter, collisions and replies lost at random, tags that refuse multi-block commands or
write up to a locked block. What comes back must be exactly what the tags hold."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

BUILD = sys.argv.pop(1) if len(sys.argv) > 1 else "build"
QX4 = os.path.join(BUILD, "cli", "qx4")
QX4SIM = os.path.join(BUILD, "sim", "qx4sim")

EDGY = "E004010000000105"     # 64 blocks of 32 bytes, many replies lost
REFUSING = "E004010000000215"  # 28 blocks of 4, refuses Read/Write Multiple Blocks
PARTIAL = "E00401000000030A"   # 32 blocks of 8, block 20 locked, writes up to it


def data(uid, size, i, salt=0):
    return bytes((i * 7 + j + salt + int(uid[-2:], 16)) & 0xFF for j in range(size)).hex().upper()


class FieldProfile(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.tags = {EDGY: (32, 64), REFUSING: (4, 28), PARTIAL: (8, 32)}
        entries = []
        for uid, (size, count) in self.tags.items():
            entry = {"uid": uid, "blockSize": size,
                     "blocks": [{"data": data(uid, size, i), "locked": uid == PARTIAL and i == 20}
                                for i in range(count)]}
            if uid == EDGY:
                entry["simulation"] = {"crcErrors": 0.05}
            if uid == REFUSING:
                entry["simulation"] = {"multiBlockRefusal": "0x0F"}
            if uid == PARTIAL:
                entry["simulation"] = {"partialWrites": True}
            entries.append(entry)
        field = self.path("field.json")
        with open(field, "w") as f:
            json.dump({"tags": entries}, f)
        self.sim = subprocess.Popen([QX4SIM, "--profile", "field", "--seed", "3", "--field", field],
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.device = self.sim.stdout.readline().split(" on ", 1)[1].strip()
        self.sim.stdout.readline()

    def tearDown(self):
        self.sim.terminate()
        self.sim.wait(timeout=10)
        self.sim.stdin.close()
        self.sim.stdout.close()
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def qx4(self, *args):
        out = subprocess.run([QX4, "--device", self.device, "--json", *args],
                             capture_output=True, text=True, timeout=120)
        return out.returncode, json.loads(out.stdout)

    def blocks(self, path):
        with open(path) as f:
            return [b["data"].upper() for b in json.load(f)["tags"][0]["blocks"]]

    def test_dump_restore_and_diff_give_exactly_what_the_tags_hold(self):
        for uid, (size, count) in self.tags.items():
            dump = self.path(uid + ".json")
            code, result = self.qx4("--uid", uid, "dump", dump)
            self.assertEqual(code, 0, result)
            self.assertEqual(self.blocks(dump), [data(uid, size, i) for i in range(count)], uid)
            self.assertEqual(self.qx4("--uid", uid, "diff", dump)[0], 0, uid)

            with open(dump) as f:
                doc = json.load(f)
            for i, block in enumerate(doc["tags"][0]["blocks"]):
                block["data"] = data(uid, size, i, salt=0x55)
            changed = self.path(uid + "-changed.json")
            with open(changed, "w") as f:
                json.dump(doc, f)
            code, result = self.qx4("--uid", uid, "restore", changed)
            after = self.path(uid + "-after.json")
            self.assertEqual(self.qx4("--uid", uid, "dump", after)[0], 0, uid)
            expected = [data(uid, size, i, 0 if uid == PARTIAL and i == 20 else 0x55)
                        for i in range(count)]
            self.assertEqual(self.blocks(after), expected, uid)
            if uid == PARTIAL:  # the locked block cannot take the dump's data
                self.assertNotEqual(code, 0, result)
            else:
                self.assertEqual(code, 0, result)
                self.assertEqual(self.qx4("--uid", uid, "diff", changed)[0], 0, uid)

    def test_unaddressed_commands_meet_the_other_tags(self):
        code, result = self.qx4("dump", self.path("any.json"))
        self.assertEqual(code, 2, result)
        self.assertIn("3 tags in the field", result["error"])
        self.assertFalse(os.path.exists(self.path("any.json")))
        code, result = self.qx4("inventory")
        self.assertEqual(code, 2, result)
        self.assertIn("3 tags in the field answered the inventory at once", result["error"])
        self.assertEqual(sorted(result["uids"]), sorted(self.tags))
        code, result = self.qx4("scan")
        self.assertEqual(code, 0, result)
        self.assertEqual(result["count"], 3)


if __name__ == "__main__":
    unittest.main()
