#!/usr/bin/env python3
"""Drives libQX4DRV through ctypes: inventory, system information, a block write and
read-back. Starts qx4sim when no QX4_COM3 is set.

usage: read_tag.py [path/to/libQX4DRV.so [path/to/qx4sim]]"""
import ctypes
import os
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))
lib_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build", "driver", "libQX4DRV.so")
sim_path = sys.argv[2] if len(sys.argv) > 2 else os.path.join(here, "..", "build", "sim", "qx4sim")

sim = None
if "QX4_COM3" not in os.environ:
    sim = subprocess.Popen([sim_path], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    sim.stdout.readline()  # "simulated reader on /dev/pts/N"
    variable, device = sim.stdout.readline().split()[1].split("=")
    os.environ[variable] = device

try:
    qx4 = ctypes.CDLL(lib_path)
except OSError:
    if sim:
        sim.terminate()
    raise

u8p = ctypes.POINTER(ctypes.c_ubyte)
qx4.QX4DllOpen.restype = ctypes.c_ubyte
qx4.QX4ErrorText.restype = ctypes.c_char_p
for name in ("QX4Inventory", "QX4GetSystemInfo", "QX4WriteSingleBlock", "QX4ReadSingleBlock"):
    getattr(qx4, name).restype = ctypes.c_ubyte


def fail(what):
    code, detail = ctypes.c_int(), ctypes.c_int()
    qx4.QX4GetErrorCode(ctypes.byref(code), ctypes.byref(detail))
    sys.exit(f"{what} failed: NACK {code.value}: {qx4.QX4ErrorText(code, detail).decode()}")


try:
    if not qx4.QX4DllOpen(3, 0):
        sys.exit("cannot open COM3")
    dsfid = ctypes.c_ubyte()
    uid = (ctypes.c_ubyte * 8)()
    if not qx4.QX4Inventory(0x40, ctypes.byref(dsfid), uid):
        fail("inventory")
    print("UID", bytes(reversed(bytes(uid))).hex().upper())

    info = (ctypes.c_ubyte * 256)()
    length = ctypes.c_int()
    if not qx4.QX4GetSystemInfo(0x01, info, ctypes.byref(length), uid):
        fail("system information")
    print("system information", bytes(info[: length.value - 1]).hex(" ").upper())

    data = (ctypes.c_ubyte * 4)(*b"py!!")
    if not qx4.QX4WriteSingleBlock(0x01, 3, data, uid):
        fail("write")
    back = (ctypes.c_ubyte * 5)()
    if not qx4.QX4ReadSingleBlock(0x11, 3, back, uid):
        fail("read")
    print("block 3", bytes(back[1:]), "security", back[0])
    assert bytes(back[1:]) == b"py!!"
finally:
    qx4.QX4DllClose()
    if sim:
        sim.terminate()
        sim.wait()
