#!/usr/bin/env python3
"""Time of ``import qx4`` in a fresh interpreter, from ``python -X importtime``: the
median and the fastest of 30 runs, and the modules that cost most in the fastest.

usage: benchmark_import.py   (with PYTHONPATH as for the Python tests; not run by the
                              test suite)"""
import os
import statistics
import subprocess
import sys


def one_run() -> tuple[int, list[tuple[int, str]]]:
    out = subprocess.run([sys.executable, "-X", "importtime", "-c", "import qx4"],
                         capture_output=True, text=True, check=True, env=os.environ).stderr
    rows = []
    for line in out.splitlines():
        if not line.startswith("import time:") or "self [us]" in line:
            continue
        _, own, total, name = [part.strip() for part in line.replace(":", "|", 1).split("|")]
        rows.append((int(total), name))
    whole = next(total for total, name in rows if name == "qx4")
    return whole, sorted(((total, name) for total, name in rows if name != "qx4"),
                         reverse=True)[:6]


runs = [one_run() for _ in range(30)]
times = sorted(whole for whole, _ in runs)
print(f"import qx4: median {statistics.median(times) / 1000:.1f} ms, "
      f"fastest {times[0] / 1000:.1f} ms (30 runs)")
fastest = min(runs)[1]
print("costliest in the fastest run:",
      ", ".join(f"{name.strip()} {total / 1000:.1f} ms" for total, name in fastest))
