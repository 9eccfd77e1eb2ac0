#!/usr/bin/python3
"""make_corpus.py OUTDIR: writes OUTDIR/<target>/seed-NNN, each starting with its target's control bytes."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from patch_formats import archive, check_value, version_list  # noqa: E402

NO_FAULT = 7


def parsers():
    records = [("data1.arc", check_value(b"first")), ("Sub\\Data2.ARC", bytes(8)), ("D:x.arc", bytes(8)),
               (b"\x83\x5c\x83\x74.arc", bytes(8)), ("n" * 248, bytes(8)), ("..", bytes(8)), ("missing.arc", bytes(8))]
    entries = [("data1.arc", b"first"), ("Data2.ARC", b"second"), ("TLX.hvl", version_list(records)), ("X.ARC", b"")]
    for options in ({}, {"layout": "legacy"}, {"count": 33}, {"positions": [(0, 5), (5, 6), (0xFFFFFFF0, 99), (0, 0)]}):
        yield b"\0" + archive(entries, **options)
    yield b"\0" + archive([("tlx.hvl", version_list(records, "v1", count=1 << 24)), ("n" * 96, b"")])[:300]
    for fault in (NO_FAULT, 0, 1, 2, 4, 8 | 2):
        yield bytes([1, fault, 0x41]) + version_list(records, word=0x12345678)
    yield bytes([1, NO_FAULT, 0xFF]) + version_list(records[3:], "v1", tail=b"extra")
    texts = [b"$Dir\r\nData.arc\r\ndata.ARC\r\n", b"a.arc\na.arc \n\tb.arc\r\r\n\n c.arc\0hidden", b"",
             b"\x82\x60\x82\x61.arc\r\n\x83\x5c\n$half\x95"]
    for fault, text in [(NO_FAULT, text) for text in texts] + [(fault, texts[0]) for fault in (0, 1, 2, 4, 9, 0x12)]:
        for names in (b"new.arc\0data.arc", b"", b"Sub\\Data.arc\0$dir\0a\0A"):
            yield bytes([2, fault]) + len(text).to_bytes(2, "little") + text + names
    yield bytes([2, NO_FAULT, 0, 0x80]) + b"new.arc"


def update_run():
    a, b, c = b"new a " * 100, bytes(range(256)) * 3, b"new c"
    listed = version_list([("a.arc", check_value(a)), ("B.ARC", check_value(b)), ("sub\\c.arc", check_value(c))])
    entries = [("a.arc", a), ("b.arc", b), ("c.arc", c), ("TLX.hvl", listed), ("new.arc", b"added")]
    for control in [(NO_FAULT, 0, 0), (NO_FAULT, 0, 7), (NO_FAULT, 64, 1), (NO_FAULT, 0x03, 2), (NO_FAULT, 0x14, 0),
                    (NO_FAULT, 0x36, 4), (4, 0x25, 0), (0x24, 0, 0), (2, 0, 0), (8 | 2, 0, 0), (0x10, 0, 0), (0x13, 0, 0)]:
        yield bytes(control) + archive(entries)
    for damaged in ([("a.arc", a), ("TLX.hvl", version_list([("a.arc", bytes(8))]))], [("..\\outside\\x", b"x")],
                    [("x.arc", b"1"), ("X.arc.tmp", b"2"), ("uninst.lst", b"replaced\r\n"), ("TLX.hvl", listed)],
                    [("a.arc", a), ("uninst.lst.new", b"n")], [(b"half\x95", b"h")], entries * 7):
        yield bytes([NO_FAULT, 0, 0]) + archive(damaged)


if __name__ == "__main__":
    if len(sys.argv) != 2 or sys.argv[1].startswith("-"):
        sys.exit(__doc__)
    for target, seeds in (("parsers", parsers), ("update_run", update_run)):
        os.makedirs(os.path.join(sys.argv[1], target), exist_ok=True)
        for number, seed in enumerate(seeds()):
            with open(os.path.join(sys.argv[1], target, f"seed-{number:03d}"), "wb") as file:
                file.write(seed)
