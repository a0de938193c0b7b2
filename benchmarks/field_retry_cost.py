#!/usr/bin/env python3
"""What sending lost frames again costs: a 256x32 dump, RUNS times, through a proxy that
answers each tag request with NACK 1 (CRC error) at the rate given, once the simulator
(paced at the baud rate given) carried it out; and the same without errors.

    benchmarks/field_retry_cost.py [BUILD] [--runs 20] [--rate 0.01] [--baud 19200]
"""
import argparse
import json
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from fault_proxy import FaultProxy  # noqa: E402

UID = "E004010012345678"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--rate", type=float, default=0.01)
    parser.add_argument("--baud", type=int, default=19200)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    qx4 = os.path.join(args.build, "cli", "qx4")
    with tempfile.TemporaryDirectory() as tmp:
        field = os.path.join(tmp, "field.json")
        with open(field, "w") as f:
            json.dump({"tags": [{"uid": UID, "blockSize": 32, "blocks": [
                {"data": "%064X" % (i * 0x0101010101)} for i in range(256)]}]}, f)
        sim = subprocess.Popen([os.path.join(args.build, "sim", "qx4sim"), "--listen", "0",
                                "--baud", str(args.baud), "--field", field],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        sim.stdout.readline()
        upstream = sim.stdout.readline().split("=")[1].strip()
        chance = random.Random(args.seed)
        rate = [0.0]
        proxy = FaultProxy(upstream, lambda r: ("lost", 1) if r.code is not None
                           and chance.random() < rate[0] else None)
        slow = ["--slow"] if args.baud == 9600 else []
        reference = None  # the first dump without errors
        try:
            for label, value in (("no errors", 0.0), ("%g %% CRC errors" % (args.rate * 100),
                                                      args.rate)):
                rate[0] = value
                times, retries, outcomes = [], [], {}
                for run in range(args.runs):
                    path = os.path.join(tmp, "d%d.json" % run)
                    start = time.monotonic()
                    out = subprocess.run([qx4, "--device", proxy.url, *slow, "--uid", UID,
                                          "--json", "dump", path, "--force"],
                                         capture_output=True, text=True, timeout=120)
                    times.append(time.monotonic() - start)
                    result = json.loads(out.stdout)
                    retries.append(result.get("retries", 0))
                    data = open(path).read() if out.returncode == 0 else None
                    reference = reference or data
                    same = data is not None and data == reference
                    key = "ok, same data" if same else ("ok, OTHER DATA" if out.returncode == 0
                                                       else "failed: " + result["error"])
                    outcomes[key] = outcomes.get(key, 0) + 1
                print("%s, %d runs at %d baud: median %.3f s, mean %.3f s, max %.3f s; "
                      "frames sent again: %d in all (max %d a run); %s" % (
                          label, args.runs, args.baud, statistics.median(times),
                          statistics.mean(times), max(times), sum(retries), max(retries),
                          ", ".join("%s: %d" % item for item in sorted(outcomes.items()))))
        finally:
            proxy.close()
            sim.terminate()
            sim.wait(timeout=10)


if __name__ == "__main__":
    main()
