#!/usr/bin/env python3
"""qx4sim's options for a real reader and field: refused values, the profile from the
environment, and per-tag behaviour from its console."""
import os
import subprocess
import sys
import unittest

BUILD = sys.argv.pop(1) if len(sys.argv) > 1 else "build"
QX4SIM = os.path.join(BUILD, "sim", "qx4sim")
UID = "E004010012345678"


def run(*args, env=None):
    return subprocess.run([QX4SIM, *args], capture_output=True, text=True, timeout=30,
                          env={**os.environ, **(env or {})})


class Options(unittest.TestCase):
    def test_values_out_of_range_are_refused_with_the_option_named(self):
        for args, named in ((["--eeprom-words", "19"], "--eeprom-words"),
                            (["--eeprom-words", "257"], "--eeprom-words"),
                            (["--eeprom-refusal", "0x100"], "--eeprom-refusal"),
                            (["--eeprom-refusal", "loud"], "--eeprom-refusal"),
                            (["--crc-errors", "1.5"], "--crc-errors"),
                            (["--no-answer", "-0.1"], "--no-answer"),
                            (["--boot-ms", "-5"], "--boot-ms"),
                            (["--profile", "fast"], "fast")):
            out = run(*args)
            self.assertEqual(out.returncode, 2, args)
            self.assertIn(named, out.stderr.splitlines()[0], args)
        out = run(env={"QX4SIM_PROFILE": "fast"})
        self.assertEqual(out.returncode, 2)
        self.assertIn("no profile \"fast\"", out.stderr)

    def test_the_console_changes_a_tag_and_lists_what_it_does(self):
        sim = subprocess.Popen([QX4SIM, "--profile", "field", "--crc-errors", "0"],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                               env={**os.environ, "QX4SIM_PROFILE": "nonsense"})
        try:
            sim.stdin.write(f"tag {UID} multiBlockRefusal 0x0F\ntag {UID} optionFlag required\n"
                            f"tag {UID} noAnswer 2\ntag {UID} colour red\n"
                            "tag E0040100DEADBEEF crcErrors 0\nlist\n")
            sim.stdin.flush()
            lines = [sim.stdout.readline().rstrip("\n") for _ in range(2 + 5 + 3)][2:]
        finally:
            sim.terminate()
            sim.wait(timeout=10)
            sim.stdin.close()
            sim.stdout.close()
        self.assertEqual(lines[0], f"{UID}: multiBlockRefusal 0x0F")
        self.assertEqual(lines[1], f"{UID}: multiBlockRefusal 0x0F optionFlag required")
        self.assertIn("noAnswer takes a chance from 0 to 1", lines[2])
        self.assertIn("no behaviour colour", lines[3])
        self.assertEqual(lines[4], "no tag E0040100DEADBEEF in the field")
        self.assertEqual(lines[5],
                         f"{UID} iso15693 28x4 multiBlockRefusal 0x0F optionFlag required")


if __name__ == "__main__":
    unittest.main()
