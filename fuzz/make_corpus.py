#!/usr/bin/python3
"""Writes the seed corpora of the fuzz targets, one folder per target, from the formats alone.

    make_corpus.py OUTDIR     writes OUTDIR/<target>/seed-NNN for every target

Each seed starts with the control bytes its target reads (see the comment at the top of each
target's source) and is built deterministically, so the corpora need not be kept in the
repository.
"""
import os
import struct
import sys

PAYLOAD_MAGIC = b"PELMAR ARC20"
NO_FAULT = 7  # an operation number no target disturbs


def check_value(data):
    """hash = hash * 233 + byte; sum and xor of the hash's low byte, sum and xor of the bytes."""
    hash_value = low_sum = low_xor = data_sum = data_xor = 0
    for d in data:
        hash_value = (hash_value * 233 + d) & 0xFFFFFFFF
        low = hash_value & 0xFF
        low_sum = (low_sum + low) & 0xFF
        low_xor ^= low
        data_sum = (data_sum + d) & 0xFF
        data_xor ^= d
    return struct.pack("<IBBBB", hash_value, low_sum, low_xor, data_sum, data_xor)


def archive(entries, legacy=False, magic=None, count=None):
    """Header, index and data of a payload archive; entries are (name bytes, data bytes)."""
    entry_size, name_field = (32, 16) if legacy else (128, 96)
    head = (magic or (b"pelmar arc20" if legacy else PAYLOAD_MAGIC)) + struct.pack(
        "<I", len(entries) if count is None else count)
    index = b""
    data = b""
    for name, content in entries:
        field = name[:name_field].ljust(name_field, b"\0")
        index += field + struct.pack("<II", len(data), len(content)) + bytes(entry_size - name_field - 8)
        data += content
    return head + index + data


def version_list(records, version=2, word=0, count=None, trailing=b""):
    """A TLX.hvl; records are (name bytes, data bytes whose check value it holds) or (name, 8 bytes)."""
    record_size, name_field = (256, 248) if version == 2 else (64, 56)
    magic = b"QTS_V2__" if version == 2 else b"QTS_____"
    out = magic + struct.pack("<II", word, len(records) if count is None else count)
    for name, value in records:
        out += name[:name_field].ljust(name_field, b"\0") + value
    return out + trailing


def cv(data):
    return check_value(data)


def seeds_payload_archive():
    entries = [(b"data1.arc", b"first"), (b"Data2.ARC", b"second!"), (b"TLX.hvl", b"QTS_V2__"), (b"TLX.exe", b"MZ")]
    yield bytes([0]) + archive(entries)
    yield bytes([0]) + archive(entries, legacy=True)
    yield bytes([0]) + archive(entries, legacy=True, magic=b"PELMAR ARC2\0")
    yield bytes([0]) + archive([])
    yield bytes([0]) + archive(entries, count=33)
    yield bytes([0]) + archive(entries, count=32)
    yield bytes([0]) + archive(entries)[:200]
    yield bytes([0]) + archive([(b"tlx.hvl", b"a"), (b"TLX.HVL", b"b"), (b"sub\\tlx.hvl", b"c")])
    yield bytes([0]) + archive([(b"\x83\x5c\x83\x74\x83\x67.arc", b"x"), (b"\x82\x60\x82\x61.ARC", b"y")])
    yield bytes([0]) + archive([(b"n" * 96, b"full field")])
    yield bytes([1, 0])


def seeds_payload_version_list():
    records = [(b"data1.arc", cv(b"first")), (b"Sub\\Data2.ARC", cv(b"second")), (b"TLX.exe", cv(b"MZ")),
               (b"D:x.arc", bytes(8)), (b"a.b\\c", bytes(8)), (b"\x83\x5c\x83\x74.arc", bytes(8))]
    plain = struct.pack("<II", 0, 0)
    for control in (0, 1, 2, 4, 8):
        yield bytes([control]) + plain + version_list(records)
    yield bytes([0]) + plain + version_list(records[:4], version=1)
    yield bytes([0]) + plain + version_list(records, count=0x01000000)
    yield bytes([0]) + plain + version_list(records, count=len(records) + 1)
    yield bytes([0]) + plain + version_list([(b"x" * 248, bytes(8)), (b"dup.arc", b"1" * 8), (b"sub/DUP.arc", b"2" * 8)])
    yield bytes([0]) + plain + b"QTS_V3__" + bytes(8)
    yield bytes([0]) + struct.pack("<II", 0xFFFFFFF0, 0) + version_list(records)
    yield bytes([0]) + struct.pack("<II", 0, 0x7FFFFFFF) + version_list(records)


def seeds_installed_version_list():
    records = [(b"a.arc", bytes(8)), (b"sub\\b.arc", bytes(8)), (b"missing.arc", bytes(8)), (b"sub", bytes(8)),
               (b"TLX.hvl", bytes(8)), (b"..\\outside", bytes(8))]
    for control, mask, folders in ((NO_FAULT, 0x0B, 0x08), (NO_FAULT, 0x00, 0), (NO_FAULT, 0xFF, 0),
                                   (2, 0x03, 0), (4, 0x03, 0), (8 | 2, 0x03, 0), (0, 0x01, 0), (1, 0x01, 0)):
        yield bytes([control, 0, mask, folders]) + version_list(records, word=0x12345678)
    yield bytes([NO_FAULT, 0, 0x05, 0]) + version_list(records[:3], version=1)
    yield bytes([NO_FAULT, 0, 0x01, 0]) + version_list(records, count=100)
    yield bytes([NO_FAULT, 0, 0x01, 0]) + version_list(records, trailing=b"extra bytes")
    yield bytes([NO_FAULT, 0, 0x01, 0]) + version_list([(b"a" * 247, bytes(8))])
    yield bytes([NO_FAULT | 16, 0, 0, 0])
    yield bytes([NO_FAULT, 0, 0, 0]) + b"QTS_"


def seeds_uninstall_list():
    texts = [b"$Dir\r\nData.arc\r\ndata.ARC\r\n", b"a.arc\na.arc \n\tb.arc\r\r\n\n c.arc", b"\r\n\r\n  \t\r\n",
             b"$only\n$lines\n", b"x.arc\0hidden.arc\n", b"\x82\x60\x82\x61.arc\r\n\xb1\xb2.arc\r\n\x83\x5c\n",
             b"last line without end", b"", b"l" * 900 + b"\n" + b"m" * 10, b"a\r\nhalf a character\x95"]
    names = [b"new.arc\0DATA.arc", b"Sub\\Data.arc\0$dir\0", b"", b"a\0a\0A", b"\x82\x60.ARC", b"half\x95\0next"]
    for text in texts:
        for name_list in names[:3] + names[5:]:
            yield bytes([NO_FAULT, 0]) + struct.pack("<H", len(text)) + text + name_list
    for control in (0, 1, 2, 4, 8 | 1, 8 | 2, NO_FAULT | 16):
        yield bytes([control, 0]) + struct.pack("<H", len(texts[0])) + texts[0] + names[0]


def seeds_update_run():
    a = b"new a " * 40
    b = bytes(range(256)) * 3
    c = b"new c"
    listed = version_list([(b"a.arc", cv(a)), (b"B.ARC", cv(b)), (b"sub\\c.arc", cv(c)), (b"gone.arc", bytes(8))])
    entries = [(b"a.arc", a), (b"b.arc", b), (b"c.arc", c), (b"TLX.hvl", listed), (b"new.arc", b"added")]
    good = archive(entries)
    for control, nth, host, variant in ((NO_FAULT, 0, 0, 0), (NO_FAULT, 0, 0, 1), (NO_FAULT, 0, 0, 2),
                                        (NO_FAULT, 0, 0, 4), (NO_FAULT, 0, 0, 8), (NO_FAULT, 0, 64, 0),
                                        (NO_FAULT, 0, 0x03, 0), (NO_FAULT, 0, 0x14, 0), (NO_FAULT, 0, 0x25, 0),
                                        (NO_FAULT, 0, 0x32, 0), (4, 1, 0, 0), (4, 3, 0, 0), (4, 6, 0, 0),
                                        (2, 2, 0, 0), (2, 7, 0, 0), (8 | 2, 3, 0, 0), (0, 2, 0, 0), (0, 8, 0, 0),
                                        (1, 3, 0, 0), (3, 2, 0, 0)):
        yield bytes([control, nth, host, variant]) + good
    plain = bytes([NO_FAULT, 0, 0, 0])
    yield plain + archive(entries, legacy=False)[:300]
    yield plain + archive([(b"a.arc", a), (b"TLX.hvl", version_list([(b"a.arc", bytes(8))]))])
    yield plain + archive([(b"a.arc", a), (b"a.arc.tmp", b"twin")])
    yield plain + archive([(b"..\\outside\\secret.txt", b"escape"), (b"b.arc", b)])
    yield plain + archive([(b"x.arc", b"1"), (b"X.ARC", b"2")])
    yield plain + archive([(b"uninst.lst", b"replaced\r\n"), (b"TLX.hvl", listed)])
    yield plain + archive([(b"a.arc", a), (b"uninst.lst.new", b"n"), (b"TLX.hvl.prune~", b"p")])
    yield plain + archive([(b"a.arc", a), (b"half\x95", b"h")])
    yield plain + archive([(b"b.arc", b)], legacy=True)
    yield plain + archive([])
    yield plain + archive(entries, count=33)


TARGETS = {
    "payload_archive": seeds_payload_archive,
    "payload_version_list": seeds_payload_version_list,
    "installed_version_list": seeds_installed_version_list,
    "uninstall_list": seeds_uninstall_list,
    "update_run": seeds_update_run,
}


def main():
    if len(sys.argv) != 2 or sys.argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if len(sys.argv) == 2 else 2
    for target, seeds in TARGETS.items():
        folder = os.path.join(sys.argv[1], target)
        os.makedirs(folder, exist_ok=True)
        for number, seed in enumerate(seeds()):
            with open(os.path.join(folder, f"seed-{number:03d}"), "wb") as file:
                file.write(seed)
    return 0


if __name__ == "__main__":
    sys.exit(main())
