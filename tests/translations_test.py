#!/usr/bin/env python3
"""Every Japanese text of the checker has an English translation in qx4bench_en.ts, under
the context it is looked up in (the .ui class, or QX4Bench for texts in the code)."""
import glob
import html
import os
import re
import sys
import xml.etree.ElementTree as ET

SOURCE = sys.argv[1] if len(sys.argv) > 1 else "."
BENCH = os.path.join(SOURCE, "bench")


LITERAL = r'"((?:[^"\\\n]|\\.)*)"'
LITERALS = r'"(?:[^"\\\n]|\\.)*"(?:\s*"(?:[^"\\\n]|\\.)*")*'


def japanese(text):
    return any(0x3000 <= ord(c) <= 0x9FFF or 0xFF00 <= ord(c) <= 0xFFEF for c in text)


def main():
    ts = ET.parse(os.path.join(BENCH, "resources", "qx4bench_en.ts")).getroot()
    have = {(c.findtext("name"), m.findtext("source")): m.findtext("translation")
            for c in ts.iter("context") for m in c.iter("message")}
    wanted = set()
    for path in glob.glob(os.path.join(BENCH, "shell", "*.cpp")) + \
            glob.glob(os.path.join(BENCH, "screens", "*.cpp")):
        # Adjacent literals are one text, as the compiler joins them.
        for run in re.findall(LITERALS, open(path, encoding="utf-8").read()):
            literal = "".join(re.findall(LITERAL, run))
            # Menu paths are translated level by level; a text with a path in it is whole.
            parts = [literal] if ("QX4Bench", literal) in have else literal.split("/")
            for part in parts:
                if japanese(part) and "[" not in part:
                    wanted.add(("QX4Bench", part))
    for path in glob.glob(os.path.join(BENCH, "resources", "*.ui")):
        text = open(path, encoding="utf-8").read()
        context = re.search(r"<class>(\w+)</class>", text).group(1)
        for string in re.findall(r"<string>([^<]*)</string>", text):
            if japanese(html.unescape(string)):
                wanted.add((context, html.unescape(string)))
    missing = sorted(w for w in wanted if not have.get(w))
    for context, text in missing:
        print(f"no English for {context}: {text}")
    print(f"{len(wanted)} texts, {len(missing)} without a translation")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
