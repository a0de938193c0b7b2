#!/usr/bin/env python3
"""Our NDEF code against the npm package ndef (installed by scripts/install-deps.sh into
the build tree), both ways: what our builders make decodes there to the same records,
what it makes decodes here to the same records. Then memory images of formatted Type 5
tags, each with where its bytes come from."""
import json
import os
import subprocess
import sys
import unittest

BUILD = sys.argv.pop(1) if len(sys.argv) > 1 else "build"
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "python"))
from qx4 import ndef  # noqa: E402  (the package of this tree, on this build's libraries)

NPM_DIR = os.path.join(os.path.abspath(BUILD), "npm")
MODULE = os.path.join(NPM_DIR, "node_modules", "ndef")
PINNED = "ndef@0.2.0"
OFFLINE = ("ENOTFOUND", "EAI_AGAIN", "ETIMEDOUT", "ECONNREFUSED", "ECONNRESET",
           "ENETUNREACH", "network")


def npm_module():
    """The package's folder; installed here when install-deps.sh has not (another build
    folder). Skips only when npm's registry cannot be reached."""
    if os.path.isdir(MODULE):
        return MODULE
    out = subprocess.run(["npm", "install", "--prefix", NPM_DIR, "--no-save", "--no-audit",
                          "--no-fund", PINNED], capture_output=True, text=True, timeout=300)
    if out.returncode != 0:
        if any(word in out.stderr for word in OFFLINE):
            raise unittest.SkipTest("npm's registry is unreachable, so the npm package ndef "
                                    "cannot be installed: " + out.stderr.strip()[-300:])
        raise AssertionError("npm install " + PINNED + " failed:\n" + out.stderr)
    return MODULE


def npm(request):
    out = subprocess.run(["node", os.path.join(HERE, "ndef_interop.js"), npm_module()],
                         input=json.dumps(request), capture_output=True, text=True, timeout=60)
    if out.returncode != 0:
        raise AssertionError(out.stderr)
    return json.loads(out.stdout)


def raw(record):
    """A record as the npm package shows one: TNF, type, id and payload."""
    message = ndef.encode_message([record])
    decoded = json.loads(ndef_json(message))[0]
    return {k: decoded[k].lower() if k in ("id", "payload") else decoded[k]
            for k in ("tnf", "type", "id", "payload")}


def ndef_json(message):
    import ctypes
    from qx4 import _library as L
    result, error = ctypes.c_void_p(), ctypes.c_void_p()
    buffer = (ctypes.c_ubyte * max(len(message), 1)).from_buffer_copy(message or b"\0")
    assert L.dumps().qx4ndef_parse_message(buffer, len(message), ctypes.byref(result),
                                           ctypes.byref(error))
    return L.take_text(result)


OURS = [
    [ndef.UriRecord("https://www.example.com/a?b=c")],
    [ndef.UriRecord("http://example.org"), ndef.UriRecord("tel:+81-3-1234"),
     ndef.UriRecord("mailto:someone@example.com"), ndef.UriRecord("urn:epc:id:sgtin:1.2.3"),
     ndef.UriRecord("geo:35.6,139.7")],
    [ndef.TextRecord("hello", "en")],
    [ndef.TextRecord("こんにちは 🌸", "ja")],
    [ndef.TextRecord("grüße", "de", "UTF-16")],
    [ndef.SmartPosterRecord((ndef.UriRecord("https://example.com"),
                             ndef.TextRecord("Example", "en")))],
    [ndef.MimeRecord("text/vcard", b"BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n")],
    [ndef.MimeRecord("application/octet-stream", bytes(range(256)) * 2)],  # long record
    [ndef.ExternalRecord("example.com:kind", b"\x01\x02")],
    [ndef.AbsoluteUriRecord("http://example.com/type", b"x")],
    [ndef.UriRecord("https://example.com"), ndef.TextRecord("a", "en"), ndef.EmptyRecord(),
     ndef.Record(5, "", b"\x00\xff", id=b"id1")],
]


class BothWays(unittest.TestCase):
    def test_our_messages_decode_there_to_the_same_records(self):
        messages = [ndef.encode_message(records) for records in OURS]
        theirs = npm({"decode": [m.hex() for m in messages]})["decoded"]
        for records, decoded in zip(OURS, theirs):
            with self.subTest(records=records):
                self.assertEqual(len(decoded), len(records))
                for record, their in zip(records, decoded):
                    mine = raw(record)
                    self.assertEqual({k: their[k] for k in mine}, mine)
                    if isinstance(record, ndef.UriRecord):
                        self.assertEqual(their["uri"], record.uri)
                    if isinstance(record, ndef.SmartPosterRecord):
                        self.assertEqual(their["records"][0]["uri"], "https://example.com")
                    if isinstance(record, ndef.TextRecord) and record.encoding == "UTF-16":
                        # The npm package reads no UTF-16: its bytes, decoded by hand.
                        payload = bytes.fromhex(their["payload"])
                        self.assertEqual(payload[0], 0x80 | 2)
                        self.assertEqual(payload[1:3], b"de")
                        self.assertEqual(payload[3:].decode("utf-16"), record.text)

    def test_its_messages_decode_here_to_the_same_records(self):
        poster = [{"kind": "uri", "uri": "https://example.com/p"},
                  {"kind": "text", "text": "Poster", "language": "fr"}]
        described = [
            [{"kind": "uri", "uri": "https://www.example.com/x"}],
            [{"kind": "uri", "uri": u} for u in ("http://a.example", "ftp://ftp.example.org",
                                                 "urn:nfc:ext:x", "sip:a@b", "custom:thing")],
            [{"kind": "text", "text": "hello", "language": "en"}],
            [{"kind": "text", "text": "日本語のテキスト", "language": "ja"}],
            # UTF-16 made by hand (the package writes UTF-8 only), wrapped by it.
            [{"tnf": 1, "type": "T", "payload": (bytes([0x82]) + b"en" +
                                                 "ütf16 ✓".encode("utf-16-be")).hex()}],
            [{"kind": "poster", "records": poster}],
            [{"kind": "mime", "type": "application/json", "data": b'{"a":1}'.hex()}],
            [{"kind": "absolute", "uri": "http://example.com/t", "data": "00"}],
            [{"tnf": 4, "type": "example.com:thing", "payload": "cafe"}],
            [{"kind": "uri", "uri": "https://example.com"},
             {"kind": "mime", "type": "text/plain", "data": b"x".hex()},
             {"kind": "empty"}, {"tnf": 5, "type": "", "id": "6964", "payload": "01"}],
        ]
        expected = [
            [ndef.UriRecord("https://www.example.com/x")],
            [ndef.UriRecord(u) for u in ("http://a.example", "ftp://ftp.example.org",
                                         "urn:nfc:ext:x", "sip:a@b", "custom:thing")],
            [ndef.TextRecord("hello", "en")],
            [ndef.TextRecord("日本語のテキスト", "ja")],
            [ndef.TextRecord("ütf16 ✓", "en", "UTF-16")],
            [ndef.SmartPosterRecord((ndef.UriRecord("https://example.com/p"),
                                     ndef.TextRecord("Poster", "fr")))],
            [ndef.MimeRecord("application/json", b'{"a":1}')],
            [ndef.AbsoluteUriRecord("http://example.com/t", b"\x00")],
            [ndef.ExternalRecord("example.com:thing", b"\xca\xfe")],
            [ndef.UriRecord("https://example.com"), ndef.MimeRecord("text/plain", b"x"),
             ndef.EmptyRecord(), ndef.Record(5, "", b"\x01", id=b"id")],
        ]
        messages = npm({"encode": described})["encoded"]
        for message, records in zip(messages, expected):
            with self.subTest(records=records):
                self.assertEqual(ndef.decode_message(bytes.fromhex(message)), records)


# Formatted Type 5 memories. No tag written by a phone was at hand: each image is composed
# here from the layout it names, byte by byte.
IMAGES = [
    # 4-byte container, version 1.0, free access, MLEN 0x0E (112 bytes counted with the
    # container, as NXP's ICODE SLIX documentation gives it), Read Multiple; an NDEF TLV
    # with one URI record as a phone's "write URL" leaves it; terminator.
    ("ICODE SLIX layout, 28 blocks of 4 bytes, URI",
     bytes.fromhex("E1400E01" "0314" "D1011055" "04" + b"example.com/nfc".hex() + "FE"),
     112, 4, [ndef.UriRecord("https://example.com/nfc")]),
    # 4-byte container and a lock control TLV before the NDEF TLV, a text record.
    ("4-byte CC with a lock control TLV, text",
     bytes.fromhex("E1401001" "0103F80844" "030A" "D101065402656E" + b"hi!".hex() + "FE"),
     128, 4, [ndef.TextRecord("hi!", "en")]),
    # 8-byte container (E2, MLEN 0x03FF in bytes 6-7: 8184 bytes after the container, as
    # ST25DV64K-class 8 KiB memories carry it), a URI and a MIME record.
    ("8-byte CC, 8 KiB, URI and MIME",
     bytes.fromhex("E240000100 0003FF".replace(" ", "") + "0321" +
                   "91010C5504" + b"example.org".hex() +
                   "520A04" + b"text/plain".hex() + b"qx4!".hex() + "FE"),
     8192, 8, [ndef.UriRecord("https://example.org"), ndef.MimeRecord("text/plain", b"qx4!")]),
    # Formatted and empty: the NDEF TLV of length 0 that formatting leaves.
    ("4-byte CC, empty NDEF TLV", bytes.fromhex("E1400E01" "0300FE"), 112, 4, []),
]


class FormattedImages(unittest.TestCase):
    def test_images_of_formatted_tags(self):
        for source, head, size, cc_size, records in IMAGES:
            with self.subTest(source=source):
                content = ndef.decode_memory(head.ljust(size, b"\0"))
                self.assertEqual(content.capability_container["size"], cc_size)
                self.assertTrue(content.has_message)
                self.assertEqual(content.records, records)


if __name__ == "__main__":
    unittest.main()
