#!/usr/bin/env python3
"""Reads a tag and changes nothing: the reader's version, the tag that answers an
inventory, its block size and count, and its first blocks with their lock state.

usage: read_tag.py [DEVICE]   (DEVICE: /dev/ttyUSB0, rfc2217://HOST:PORT, ...;
                               without it: a simulated reader, qx4sim)"""
import sys

import qx4


def show(device: str) -> int:
    with qx4.Reader(device) as reader:
        print("reader:", reader.version())
        tag = reader.inventory()
        if tag is None:
            print("no tag in the field")
            return 1
        geometry = reader.geometry(tag.uid)  # asked once, remembered for the reads below
        print(f"tag {tag.uid_hex}: {geometry.block_count} blocks of {geometry.block_size} bytes")
        for block in reader.read_blocks(0, min(4, geometry.block_count or 4), uid=tag.uid,
                                        security=True):
            print(f"  block {block.number}: {block.data.hex(' ')}"
                  f"{'  (locked)' if block.locked else ''}")
    return 0


if __name__ == "__main__":
    if len(sys.argv) > 1:
        sys.exit(show(sys.argv[1]))
    with qx4.Simulator() as simulator:
        sys.exit(show(simulator.device))
