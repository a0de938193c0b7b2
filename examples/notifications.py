#!/usr/bin/env python3
"""Puts the reader in auto-scan for a few seconds and prints each tag it reports, then
puts the reader's mode back as it was. Ends with an error when the reader goes away.

usage: notifications.py [DEVICE [SECONDS]]   (without DEVICE: a simulated reader)"""
import sys

import qx4

AUTO_SCAN = 1


def watch(device: str, seconds: float) -> int:
    with qx4.Reader(device) as reader:
        mode, second, flags = reader.operation_mode()
        reader.set_operation_mode(AUTO_SCAN, second, flags)
        seen = 0
        try:
            for notification in reader.notifications(timeout=seconds):
                seen += 1
                who = qx4.uid_text(notification.uid) if notification.uid else "-"
                print(f"{notification.kind:8} {who:16} {notification.data.hex(' ')}")
        except qx4.ReaderGoneError as error:
            print("the reader went away:", error)
            return 1
        finally:
            if reader.is_ok:
                reader.set_operation_mode(mode, second, flags)
        print(f"{seen} notifications in {seconds:g} s")
        return 0 if seen else 1


if __name__ == "__main__":
    if len(sys.argv) > 1:
        sys.exit(watch(sys.argv[1], float(sys.argv[2]) if len(sys.argv) > 2 else 5.0))
    with qx4.Simulator(scan_period=0.2) as simulator:
        sys.exit(watch(simulator.device, 1.5))
