#!/usr/bin/python3
"""Writes the seeds of the fuzz targets, OUTDIR/<target>/seed-NNN, from the patch formats.

    make_corpus.py OUTDIR

Each seed starts with the control bytes its target reads (see the top of each target's source)."""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from patch_formats import archive, check_value, version_list  # noqa: E402

NO_FAULT = 7


def parsers():
    records = [("data1.arc", check_value(b"first")), ("Sub\\Data2.ARC", bytes(8)), ("D:x.arc", bytes(8)),
               (b"\x83\x5c\x83\x74.arc", bytes(8)), ("n" * 248, bytes(8))]
    entries = [("data1.arc", b"first"), ("Data2.ARC", b"second"), ("TLX.hvl", version_list(records)), ("X.ARC", b"")]
    for layout in ("current", "legacy"):
        yield b"\0" + archive(entries, layout)
        yield b"\0" + archive(entries, layout, count=33)
    yield b"\0" + archive([("tlx.hvl", version_list(records[:3], "v1")), ("TLX.HVL", b"b"), ("n" * 96, b"")])
    yield b"\0" + archive([("TLX.hvl", version_list(records, count=0x01000000))], positions=[(0xFFFFFFF0, 9)])
    yield b"\0" + archive(entries, count=32)[:300]
    yield b"\0"
    installed = [("a.arc", bytes(8)), ("sub\\b.arc", bytes(8)), ("missing.arc", bytes(8)), ("..", bytes(8))]
    for fault in (NO_FAULT, 0, 1, 2, 4, 8 | 2):
        yield bytes([1, fault, 0x01]) + version_list(installed, word=0x12345678)
    yield bytes([1, NO_FAULT, 0x05]) + version_list(installed, "v1", tail=b"extra")
    yield bytes([1, NO_FAULT, 0x01]) + version_list([("a" * 240, bytes(8))] + installed)
    texts = [b"$Dir\r\nData.arc\r\ndata.ARC\r\n", b"a.arc\na.arc \n\tb.arc\r\r\n\n c.arc", b"$only\n",
             b"\x82\x60\x82\x61.arc\r\n\x83\x5c\n", b"x.arc\0hidden.arc\n", b"", b"a\r\nhalf\x95"]
    for text in texts:
        for names in (b"new.arc\0DATA.arc", b"", b"Sub\\Data.arc\0$dir\0a\0A", b"\x82\x60.ARC"):
            yield bytes([2, NO_FAULT]) + struct.pack("<H", len(text)) + text + names
    for fault in (0, 1, 2, 4, 8 | 1, 0x12):
        yield bytes([2, fault]) + struct.pack("<H", len(texts[0])) + texts[0] + b"new.arc"
    yield bytes([2, NO_FAULT]) + struct.pack("<H", 0x8000) + b"new.arc"


def update_run():
    a, b, c = b"new a " * 100, bytes(range(256)) * 3, b"new c"
    listed = version_list([("a.arc", check_value(a)), ("B.ARC", check_value(b)), ("sub\\c.arc", check_value(c)),
                           ("gone.arc", bytes(8))])
    entries = [("a.arc", a), ("b.arc", b), ("c.arc", c), ("TLX.hvl", listed), ("new.arc", b"added")]
    for control in ((NO_FAULT, 0, 0), (NO_FAULT, 0, 1), (NO_FAULT, 0, 2), (NO_FAULT, 0, 4), (NO_FAULT, 64, 0),
                    (NO_FAULT, 0x03, 0), (NO_FAULT, 0x14, 0), (NO_FAULT, 0x25, 0), (NO_FAULT, 0x36, 0), (4, 0, 0),
                    (0x24, 0, 0), (2, 0, 0), (0x32, 0, 0), (8 | 2, 0, 0), (0x10, 0, 0), (1, 0, 0), (0x13, 0, 0)):
        yield bytes(control) + archive(entries)
    for damaged in ([("a.arc", a), ("TLX.hvl", version_list([("a.arc", bytes(8))]))], [("..\\outside\\x", b"x")],
                    [("x.arc", b"1"), ("X.ARC", b"2")], [("a.arc", a), ("a.arc.tmp", b"twin")],
                    [("uninst.lst", b"replaced\r\n"), ("TLX.hvl", listed)], [("a.arc", a), ("uninst.lst.new", b"n")],
                    [("a.arc", a), (b"half\x95", b"h")], [("new\\x.arc", b"no folder")]):
        yield bytes([NO_FAULT, 0, 0]) + archive(damaged)
    yield bytes([NO_FAULT, 0, 0]) + archive([("b.arc", b)], "legacy")
    yield bytes([NO_FAULT, 0, 0]) + archive(entries, count=33)


def main():
    if len(sys.argv) != 2 or sys.argv[1] in ("-h", "--help"):
        print(__doc__)
        return 0 if len(sys.argv) == 2 else 2
    for target, seeds in (("parsers", parsers), ("update_run", update_run)):
        os.makedirs(os.path.join(sys.argv[1], target), exist_ok=True)
        for number, seed in enumerate(seeds()):
            with open(os.path.join(sys.argv[1], target, f"seed-{number:03d}"), "wb") as file:
                file.write(seed)
    return 0


if __name__ == "__main__":
    sys.exit(main())
