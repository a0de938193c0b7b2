#!/usr/bin/env python3
"""WRITES to a tag: block 3 of the tag named on the command line (or, on a simulated
reader, its first tag) gets the bytes "py!!" (repeated to the block size), then it is
read back and compared.

usage: write_tag.py [DEVICE UID]   (without them: a simulated reader, qx4sim)"""
import sys

import qx4
from qx4.simulator import Simulator

BLOCK = 3


def write(device: str, uid: str | None) -> int:
    with qx4.Reader(device=device) as reader:
        target = qx4.parse_uid(uid) if uid else reader.inventory().uid
        size = reader.system_info(target).block_size or 4
        data = (b"py!!" * 8)[:size]
        reader.write_blocks(BLOCK, data, uid=target)
        back = reader.read_blocks(BLOCK, 1, uid=target)[0].data
        print(f"tag {qx4.uid_text(target)} block {BLOCK}: wrote {data!r}, read back {back!r}")
        return 0 if back == data else 1


if __name__ == "__main__":
    if len(sys.argv) == 3:
        sys.exit(write(sys.argv[1], sys.argv[2]))
    with Simulator() as simulator:
        sys.exit(write(simulator.device, None))
