#!/usr/bin/env python3
"""Reads a tag and changes nothing: the reader's version, the tag that answers an
inventory, its system information and its first blocks with their lock state.

usage: read_tag.py [DEVICE]   (without DEVICE: a simulated reader, qx4sim)"""
import sys

import qx4
from qx4.simulator import Simulator


def show(device: str) -> int:
    with qx4.Reader(device=device) as reader:
        print("reader:", reader.version())
        tag = reader.inventory()
        if tag is None:
            print("no tag in the field")
            return 1
        info = reader.system_info(tag.uid)
        print(f"tag {tag.uid_hex}: {info.block_count} blocks of {info.block_size} bytes")
        for block in reader.read_blocks(0, min(4, info.block_count or 4), uid=tag.uid,
                                        security=True):
            print(f"  block {block.number}: {block.data.hex(' ')}"
                  f"{'  (locked)' if block.locked else ''}")
    return 0


if __name__ == "__main__":
    if len(sys.argv) > 1:
        sys.exit(show(sys.argv[1]))
    with Simulator() as simulator:
        sys.exit(show(simulator.device))
