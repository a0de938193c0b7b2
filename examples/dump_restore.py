#!/usr/bin/env python3
"""WRITES to a tag: dumps the tag named by its UID to a JSON file, overwrites its
block 1, then restores the dump and shows what the restore did. Only blocks that differ
are written back, and each is read back to check it.

usage: dump_restore.py [DEVICE UID]   (without them: a simulated reader, qx4sim)"""
import json
import sys
import tempfile
from pathlib import Path

import qx4


def round_trip(device: str, uid: str) -> int:
    with qx4.Reader(device) as reader, tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "tag.json"
        path.write_text(json.dumps(reader.dump(uid), indent=1), encoding="utf-8")
        print(f"tag {uid} dumped to {path.name} ({path.stat().st_size} bytes)")

        size = reader.geometry(uid).block_size
        reader.write_blocks(1, b"\xA5" * size, uid=uid)
        print("block 1 overwritten:", reader.read_blocks(1, 1, uid=uid)[0].data.hex(" "))

        try:
            report = reader.restore(path, uid=uid)
        except qx4.DumpError as error:
            print("restore failed:", error)
            if error.report is not None:
                print("  written before the failure:", error.report.written)
            return 1
        print(f"restored: blocks {report.written} written, {report.verified} verified, "
              f"{report.same} already the same")
        print("block 1 again:", reader.read_blocks(1, 1, uid=uid)[0].data.hex(" "))
        return 0 if report.complete else 1


if __name__ == "__main__":
    if len(sys.argv) == 3:
        sys.exit(round_trip(sys.argv[1], sys.argv[2]))
    if len(sys.argv) != 1:
        sys.exit(__doc__)
    with qx4.Simulator() as simulator:
        sys.exit(round_trip(simulator.device, "E004010012345678"))
