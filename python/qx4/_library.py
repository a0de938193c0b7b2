"""Finds and loads libQX4DRV and libqx4dump, and declares their functions."""

from __future__ import annotations

import contextlib
import ctypes
import logging
import os
import sys
import sysconfig

DRIVER = "libQX4DRV.so.1"
DUMPS = "libqx4dump.so.1"


class LibraryNotFound(OSError):
    """The library is in none of the places looked at; the message lists them."""


def _library_folders() -> list[str]:
    """Where installed libraries are: beside this package's prefix, then the system's
    (a venv's prefix has none), each plain and under the multiarch triplet."""
    here = os.path.dirname(os.path.realpath(__file__))
    prefixes = [os.path.normpath(os.path.join(here, "..", "..", ".."))]
    for system in (os.path.join(sys.base_prefix, "lib"), "/usr/lib", "/usr/local/lib"):
        if system not in prefixes:
            prefixes.append(system)
    triplet = sysconfig.get_config_var("MULTIARCH")
    folders = []
    for prefix in prefixes:
        folders.append(prefix)
        if triplet:
            folders.append(os.path.join(prefix, triplet))
        # Another triplet than the interpreter's own (a 32-bit ARM build, say).
        with contextlib.suppress(OSError):
            folders.extend(os.path.join(prefix, name) for name in sorted(os.listdir(prefix))
                           if "-linux-" in name and name != triplet)
    return folders


def _candidates(name: str, variable: str, build_folder: str) -> list[str]:
    places = []
    if os.environ.get(variable):
        places.append(os.environ[variable])
    # libqx4dump is private to this package: LIBDIR/qx4.
    for folder in _library_folders():
        places.extend((os.path.join(folder, name), os.path.join(folder, "qx4", name)))
    places.append(name)  # wherever the loader finds the soname
    # The build tree, for a checkout: python/qx4 -> build/<folder>.
    source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.realpath(__file__))))
    for build in ("build", "build-asan"):
        places.append(os.path.join(source, build, build_folder, name))
    return places


def _load(name: str, variable: str, build_folder: str,
          first: list[str] | None = None) -> ctypes.CDLL:
    tried = []
    for place in (first or []) + _candidates(name, variable, build_folder):
        try:
            return ctypes.CDLL(place)
        except OSError as error:
            tried.append(f"{place} ({error})" if os.sep in place else f"{place} (loader)")
    raise LibraryNotFound(f"{name} not found; set {variable}. Looked at: " + "; ".join(tried))


_driver: ctypes.CDLL | None = None
_dumps: ctypes.CDLL | None = None

u8p = ctypes.POINTER(ctypes.c_ubyte)


class CopyData(ctypes.Structure):
    _fields_ = [("kind", ctypes.c_size_t), ("count", ctypes.c_uint32), ("data", u8p)]


class Window(ctypes.Structure):
    pass


CopyDataHook = ctypes.CFUNCTYPE(None, ctypes.POINTER(Window), ctypes.POINTER(CopyData))
Window._fields_ = [("copyData", CopyDataHook)]

BoxHook = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_char_p)


class PlatformHooks(ctypes.Structure):
    _fields_ = [("messageBox", BoxHook), ("pumpMessages", ctypes.c_void_p),
                ("playSound", ctypes.c_void_p)]


def _box(text: bytes | None, caption: bytes | None) -> None:
    # The library's own box ("Error Info1: Reading comms port.") says what the exception
    # raised says already: a debug record, never a line on standard error.
    logging.getLogger("qx4").debug("library box: %s: %s",
                                   (caption or b"").decode("utf-8", "replace"),
                                   (text or b"").decode("utf-8", "replace"))


_box_hook = BoxHook(_box)  # kept alive as long as the library may call it


# The exports used here that answer in an unsigned char. Only its low byte is defined
# when it comes back: read as an int, a failure's 0 could pass for success.
_BYTE_RESULTS = (
    "QX4BuzOn", "QX4DllOpen", "QX4DllOpenDevice", "QX4GetAFIData", "QX4GetEepromData2", "QX4GetErrorStatus",
    "QX4GetModelNameComad", "QX4GetParamData", "QX4GetPowerDown", "QX4GetROMVersion",
    "QX4GetRWMode", "QX4GetSystemInfo", "QX4GetTagMode", "QX4GetUIDGetCmd", "QX4GetUidData",
    "QX4GetUidNumber", "QX4InitEEPROM", "QX4Inventory", "QX4Inventory2", "QX4LockAFI",
    "QX4LockBlock", "QX4LockDSFID", "QX4MydWrite", "QX4MydWriteReread", "QX4Myd_Read",
    "QX4Myd_WriteByte", "QX4ReStartComand", "QX4ReadIOPort", "QX4ReadMultiBlock",
    "QX4ReadSingleBlock", "QX4ResetToReady", "QX4Resync", "QX4SelectTag", "QX4SetAFIData",
    "QX4SetEepromData2", "QX4SetLEDCont", "QX4SetParamData", "QX4SetPowerDown",
    "QX4SetRWMode", "QX4SetTagMode", "QX4SetTxOnOff", "QX4SetUIDSetCmd", "QX4SimpleReadCmd",
    "QX4StayQuiet", "QX4WrietDSFID", "QX4WriteAFI", "QX4WriteIOPort", "QX4WriteMultiBlock",
    "QX4WriteSingleBlock", "QX4WriteTagData",
)


def driver() -> ctypes.CDLL:
    """libQX4DRV, with the argument types of the functions used here."""
    global _driver
    if _driver is None:
        lib = _load(DRIVER, "QX4DRV_LIBRARY", "driver")
        lib.QX4ErrorText.restype = ctypes.c_char_p
        lib.QX4LibraryVersion.restype = ctypes.c_char_p
        lib.QX4SetHandle.argtypes = [ctypes.c_void_p]
        lib.QX4SetReceivedHook.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        lib.QX4SetReceivedHook.restype = None
        lib.QX4DllOpenDevice.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.QX4GetErrorCode.argtypes = [ctypes.POINTER(ctypes.c_int)] * 2
        lib.QX4GetFailureCause.restype = ctypes.c_int
        lib.QX4GetOpenError.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.QX4GetOpenError.restype = ctypes.c_int
        for name in _BYTE_RESULTS:
            getattr(lib, name).restype = ctypes.c_ubyte
        lib.QX4SetPlatformHooks.argtypes = [ctypes.POINTER(PlatformHooks)]
        lib.QX4SetPlatformHooks.restype = None
        lib.QX4SetPlatformHooks(ctypes.byref(PlatformHooks(_box_hook, None, None)))
        _driver = lib
    return _driver


def dumps() -> ctypes.CDLL:
    """libqx4dump: the dump, restore and format code of ``qx4``."""
    global _dumps
    if _dumps is None:
        # Beside the driver that was loaded, unless QX4DUMP_LIBRARY names another.
        here = os.path.dirname(driver()._name) if os.sep in driver()._name else None
        beside = [] if os.environ.get("QX4DUMP_LIBRARY") or not here else [
            os.path.join(here, DUMPS)]
        lib = _load(DUMPS, "QX4DUMP_LIBRARY", "dumps", beside)
        out = ctypes.POINTER(ctypes.c_void_p)
        lib.qx4dump_free.argtypes = [ctypes.c_void_p]
        for name in ("qx4dump_interrupt", "qx4dump_clear_interrupt"):
            getattr(lib, name).argtypes = []
            getattr(lib, name).restype = None
        lib.qx4dump_retries.argtypes = []
        lib.qx4dump_retries.restype = ctypes.c_int
        lib.qx4dump_parse.argtypes = [ctypes.c_char_p, out, out]
        lib.qx4dump_write.argtypes = [ctypes.c_char_p, ctypes.c_char_p, out, out]
        lib.qx4dump_read_tag.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                         ctypes.c_int, ctypes.c_int, out, out]
        lib.qx4dump_restore_with_option.argtypes = [
            ctypes.c_char_p, ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
            ctypes.c_int, ctypes.c_int, out, out]
        lib.qx4dump_manufacturer.argtypes = [ctypes.c_int]
        lib.qx4dump_manufacturer.restype = ctypes.c_char_p
        for name in ("qx4ndef_parse_message", "qx4ndef_parse_memory"):
            getattr(lib, name).argtypes = [u8p, ctypes.c_int, out, out]
        lib.qx4ndef_build_message.argtypes = [ctypes.c_char_p, out, out]
        lib.qx4dump_ndef_read.argtypes = [ctypes.c_void_p, ctypes.c_int, out, out]
        lib.qx4dump_ndef_write.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int,
                                           ctypes.c_int, out, out]
        for name in ("qx4dump_ndef_format", "qx4dump_ndef_erase"):
            getattr(lib, name).argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, out, out]
        _dumps = lib
    return _dumps


def take_text(pointer: ctypes.c_void_p) -> str | None:
    """A text handed out by libqx4dump, freed after copying."""
    if not pointer.value:
        return None
    text = ctypes.string_at(pointer.value).decode("utf-8")
    dumps().qx4dump_free(pointer)
    return text
