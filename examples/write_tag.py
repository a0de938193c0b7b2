#!/usr/bin/env python3
"""WRITES to a tag: block 3 of the tag named by its UID gets the bytes "py!!" (repeated
to the block size), then it is read back and compared. Writes always name their tag:
with several tags in the field a write without a UID is refused.

usage: write_tag.py [DEVICE UID]   (without them: a simulated reader, qx4sim, and the
                                    first UID it reports)"""
import sys

import qx4

BLOCK = 3


def write(device: str, uid: str | None) -> int:
    with qx4.Reader(device) as reader:
        target = uid or qx4.uid_text(reader.scan()[0])
        size = reader.geometry(target).block_size
        data = (b"py!!" * 8)[:size]
        try:
            reader.write_blocks(BLOCK, data, uid=target)
        except qx4.NackError as error:
            print(f"tag {target} refused the write: {error.text}")
            return 1
        back = reader.read_blocks(BLOCK, 1, uid=target)[0].data
        print(f"tag {target} block {BLOCK}: wrote {data!r}, read back {back!r}")
        return 0 if back == data else 1


if __name__ == "__main__":
    if len(sys.argv) == 3:
        sys.exit(write(sys.argv[1], sys.argv[2]))
    if len(sys.argv) != 1:
        sys.exit(__doc__)
    with qx4.Simulator() as simulator:
        sys.exit(write(simulator.device, None))
