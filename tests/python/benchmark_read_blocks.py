#!/usr/bin/env python3
"""Time of read_blocks(0, 1, uid=...) against qx4sim paced at 19200 baud: the median of
40 calls after the first (which learns the tag's block size).

usage: benchmark_read_blocks.py   (with PYTHONPATH, QX4DRV_LIBRARY and QX4SIM as for the
                                   Python tests; not run by the test suite)"""
import statistics
import time

import qx4

TAG = "E004010012345678"

with qx4.Simulator(baud=19200) as sim, qx4.Reader(sim.device) as reader:
    reader.read_blocks(0, 1, uid=TAG)
    times = []
    for _ in range(40):
        started = time.perf_counter()
        reader.read_blocks(0, 1, uid=TAG)
        times.append(time.perf_counter() - started)
    print(f"read_blocks(0, 1, uid=...) at 19200 baud: median {statistics.median(times) * 1000:.1f}"
          f" ms, min {min(times) * 1000:.1f} ms (40 calls)")
