#!/usr/bin/python3
"""End-to-end tests of patchtool's hvl and verify commands, one CTest test per case.

    patchtool_version_list_test.py --list             print the case names
    patchtool_version_list_test.py PATCHTOOL CASE     run one case against the patchtool executable

Version lists, archives and check values are written and computed here from the formats alone,
independently of the C++ code; the shared helpers come from patchtool_test.py.
"""
import json
import os
import random
import struct
import sys
import tempfile

import patchtool_test as common
from patchtool_test import MAGIC, Failure, check, check_one_line_error, reference_check_value, run, run_ok

VERSIONS = {"v2": (b"QTS_V2__", 256, 248), "v1": (b"QTS_____", 64, 56)}  # magic, record size, name field


def write_list(records, version="v2", word=0, count=None, tail=b""):
    """A version list: header, then each record's raw name field bytes (padded with zero bytes when
    shorter than the field) and its 8-byte check value."""
    magic, size, field = VERSIONS[version]
    data = magic + struct.pack("<II", word, len(records) if count is None else count)
    for name_field, value in records:
        data += name_field + bytes(field - len(name_field)) + value
    return data + tail


def stored_name(name_field):
    return name_field.split(b"\0", 1)[0]


def last_component(name):
    """A record name without drive and folders; double-byte characters step as units."""
    if name[1:2] == b":":
        name = name[2:]
    start, i = 0, 0
    while i < len(name):
        if name[i] in (0x5C, 0x2F):
            start = i + 1
        elif 0x81 <= name[i] <= 0x9F or 0xE0 <= name[i] <= 0xFC:
            i += 1
        i += 1
    return name[start:]


def lower(name):
    return name.decode("cp932").lower().encode("cp932")


def json_of(result):
    text = result.stdout.decode("utf-8")
    check(text.endswith("\n") and text.count("\n") == 1, f"JSON is not one line: {text!r}")
    return json.loads(text)


def parse_list(data):
    """Version, word, and (name bytes, check value) per record of a list file."""
    version = {v[0]: k for k, v in VERSIONS.items()}[data[:8]]
    _, size, field = VERSIONS[version]
    word, count = struct.unpack_from("<II", data, 8)
    check(len(data) == 16 + count * size, f"{len(data)} bytes for {count} records")
    records = []
    for i in range(count):
        record = data[16 + i * size:16 + (i + 1) * size]
        name = stored_name(record[:field])
        check(record[len(name):field] == bytes(field - len(name)), f"record {i}: bytes after the name are not zero")
        records.append((name, record[field:]))
    return version, word, records


def test_hvl_make_writes_what_an_independent_reader_expects():
    rng = random.Random(41)
    with tempfile.TemporaryDirectory() as directory:
        root = os.path.join(directory, "game")
        files = {"Data1.arc": 0, "sub/データ.arc": 5, "sub/深い/ＡＢＣ.bin": (1 << 20) + 7, "TLX.exe": 3}
        for path, size in files.items():
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            with open(os.path.join(root, path), "wb") as file:
                file.write(rng.randbytes(size))
        for version, longest in (("v2", 247), ("v1", 55)):
            limit = "x" * (longest - 4) + ".bin"
            with open(os.path.join(root, limit), "wb") as file:
                file.write(b"limit")
            given = [*files, "./" + limit]  # a "." part is dropped from the name
            out = os.path.join(directory, f"{version}.hvl")
            run_ok("hvl", "make", "--out", out, "--root", root, *(["--v1"] if version == "v1" else []), *given)
            with open(out, "rb") as file:
                parsed_version, word, records = parse_list(file.read())
            check(parsed_version == version and word == 0, f"{version}: header {parsed_version} {word}")
            expected = []
            for path in [*files, limit]:
                with open(os.path.join(root, path), "rb") as file:
                    expected.append((path.replace("/", "\\").encode("cp932"), reference_check_value(file.read())))
            check(records == expected, f"{version} records:\n{records}\nexpected\n{expected}")
            os.remove(os.path.join(root, limit))


def test_hvl_show_reads_independently_written_lists():
    rng = random.Random(42)
    with tempfile.TemporaryDirectory() as directory:
        for version in ("v2", "v1"):
            field = VERSIONS[version][2]
            names = [b"a.arc", "表\\能.arc".encode("cp932"), b"n" * field, b"sub\\x.arc\0" + rng.randbytes(5), b""]
            records = [(name, rng.randbytes(8)) for name in names]
            path = os.path.join(directory, f"{version}.hvl")
            with open(path, "wb") as file:
                file.write(write_list(records, version, word=0xDEADBEEF, tail=b"tail"))
            shown = json_of(run_ok("hvl", "show", path, "--json"))
            expected = {"version": int(version[1]), "headerWord": 0xDEADBEEF, "count": len(records), "trailingBytes": 4,
                        "records": [{"name": stored_name(n).decode("cp932"), "nameHex": stored_name(n).hex(),
                                     "checkValue": v.hex()} for n, v in records]}
            check(shown == expected, f"{version}:\n{shown}\nexpected\n{expected}")
            text = run_ok("hvl", "show", path).stdout.decode("utf-8")
            check("表\\能.arc" in text and "3735928559" in text and records[0][1].hex() in text, f"text: {text}")


def test_hvl_refuses_bad_input_and_leaves_no_file():
    with tempfile.TemporaryDirectory() as directory:
        root = os.path.join(directory, "root")
        os.mkdir(root)
        for name in ("a.arc", "c" * 56, "euro€"):  # names too long are refused before any file is read
            with open(os.path.join(root, name), "wb") as file:
                file.write(b"x")
        out = os.path.join(directory, "out.hvl")
        with open(out, "wb") as file:
            file.write(b"previous list")
        make = ["hvl", "make", "--out", out, "--root", root]
        cases = [
            (make + ["b" * 248], 1, ["248 bytes", "247"]),
            (make + ["--v1", "c" * 56], 1, ["56 bytes", "55"]),
            (make + ["あ" * 124], 1, ["248 bytes"]),
            (make + ["euro€"], 1, ["code page 932"]),
            (make + [os.path.join(root, "a.arc")], 1, ["not relative"]),
            (make + ["sub/../a.arc"], 1, [".."]),
            (make + ["missing.arc"], 1, ["missing.arc"]),
            (make + ["a.arc", "A.ARC"], 1, ["twice"]),
            (make + ["."], 1, ["names no file"]),
            (["hvl", "make", "--out", os.path.join(directory, "no", "folder.hvl"), "--root", root, "a.arc"], 1,
             ["folder.hvl"]),
            (["hvl", "make", "--root", root, "a.arc"], 2, ["--out"]),
            (make + ["--json", "a.arc"], 2, ["--json"]),
            (["hvl", "show", "--v1", out], 2, ["--v1"]),
            (["hvl", "show"], 2, ["one FILE"]),
            (["hvl", "frobnicate"], 2, ["frobnicate"]),
            (["hvl"], 2, ["make"]),
        ]
        for arguments, status, fragments in cases:
            try:
                check_one_line_error(run(*arguments), status, *fragments)
            except Failure as failure:
                raise Failure(f"{arguments}: {failure}")
            with open(out, "rb") as file:
                check(file.read() == b"previous list", f"{arguments} changed the existing list")
        check(sorted(os.listdir(directory)) == ["out.hvl", "root"], f"files left: {os.listdir(directory)}")

        # Lists the updater would not take are reported, not shown.
        good = write_list([(b"a.arc", bytes(8)), (b"b.arc", bytes(8))])
        for data, fragment in ((good[:15], "16-byte header"), (b"QTS_V3__" + good[8:], "magic"),
                               (good[:-1], "counts 2 records"), (write_list([], count=0x01000000), "counts 16777216")):
            with open(out, "wb") as file:
                file.write(data)
            result = run("hvl", "show", out)
            check_one_line_error(result, 1, fragment)
            check(result.stdout == b"", f"{fragment}: output printed")


def verify_case(directory, number, entries, hvl_entry, records, version, past_end=None):
    """Writes a patch with `entries` (name, data) and, unless hvl_entry is None, a version list entry
    of that name holding `records`; returns the patch path and the report the updater's rules give."""
    names = [name for name, _ in entries]
    datas = [data for _, data in entries]
    if hvl_entry is not None:
        names.append(hvl_entry)
        datas.append(write_list(records, version) if version else b"QTS_V3__" + bytes(8))
    entry_size, field = common.LAYOUTS["current"]
    fields, offset = [], 0
    for name, data in zip(names, datas):
        fields.append((name + bytes(field - len(name)), offset, len(data), bytes(entry_size - field - 8)))
        offset += len(data)
    if past_end is not None:
        name, size = past_end
        names.append(name)
        fields.append((name + bytes(field - len(name)), offset, size, bytes(entry_size - field - 8)))
    patch = os.path.join(directory, f"verify{number}.exe")
    common.write_archive(patch, b"MZ", MAGIC, len(fields), fields, b"".join(datas), "current")

    usable = hvl_entry is not None and lower(hvl_entry) == b"tlx.hvl" and version is not None
    report = []
    for i, name in enumerate(names):
        match = next((r for r in records if usable and lower(last_component(stored_name(r[0]))) == lower(name)), None)
        target = stored_name(match[0]) if match else name
        actual = reference_check_value(datas[i]).hex() if i < len(datas) else None
        status = "unreadable" if actual is None else "unverified" if match is None else \
            "ok" if match[1].hex() == actual else "mismatch"
        report.append({"name": name.decode("cp932"), "target": target.decode("cp932"), "status": status,
                       "expected": match[1].hex() if match else None, "actual": actual})
    return patch, {"versionList": version if usable else "none", "entries": report}


def test_verify_against_independently_written_patches():
    rng = random.Random(43)
    big = rng.randbytes((2 << 20) + 1)  # crosses two 1 MiB chunks
    entries = [(b"data.arc", rng.randbytes(100)), (b"x.arc", b"abc"), ("表.arc".encode("cp932"), b""),
               (b"dup.arc", big), ("ＡＢ.arc".encode("cp932"), b"a"), (b"TLX.exe", rng.randbytes(5000))]
    value = {name: reference_check_value(data) for name, data in entries}
    records = [
        (b"sub\\Data.ARC", value[b"data.arc"]),                       # installed into a folder
        (b"D:x.arc", value[b"x.arc"]),                                 # a drive is dropped
        ("表.arc".encode("cp932"), bytes(8)),                          # trail byte 0x5C is no separator
        (b"first\\DUP.arc", bytes(8)),                                 # first match wins, and mismatches
        (b"dup.arc", value[b"dup.arc"]),
        ("ａｂ.arc".encode("cp932"), value["ＡＢ.arc".encode("cp932")]),  # full-width letters fold too
        (b"other.arc", bytes(8)),
    ]
    good = [r if r[0] != b"first\\DUP.arc" else (r[0], value[b"dup.arc"]) for r in records]
    cases = [
        (entries, b"TLX.hvl", records, "v2", None, 1),
        (entries, b"tlx.HVL", good, "v2", None, 0),
        (entries, b"TLX.hvl", good, "v1", None, 0),
        (entries, b"TLX.hvl", good, None, None, 0),     # neither magic: every entry unverified
        (entries, b"sys\\tlx.hvl", good, "v2", None, 0),  # not the version list entry
        (entries, None, [], None, None, 0),
        (entries[:2], b"TLX.hvl", good, "v2", (b"gone.arc", 10), 1),
    ]
    with tempfile.TemporaryDirectory() as directory:
        for number, (case_entries, hvl_entry, case_records, version, past_end, status) in enumerate(cases):
            patch, expected = verify_case(directory, number, case_entries, hvl_entry, case_records, version, past_end)
            result = run("verify", patch, "--json")
            check(result.returncode == status, f"case {number}: exit status {result.returncode}, expected {status}")
            report = json_of(result)
            check(report == expected, f"case {number}:\n{report}\nexpected\n{expected}")
            text = run("verify", patch).stdout.decode("utf-8")
            check(f"version list: {expected['versionList']}" in text, f"case {number}: {text}")
        check("MISMATCH    dup.arc -> first\\DUP.arc" in run("verify", verify_case(
            directory, 99, entries, b"TLX.hvl", records, "v2")[0]).stdout.decode(), "text report of a mismatch")


def test_verify_refuses_damaged_patches_and_explains_itself():
    with tempfile.TemporaryDirectory() as directory:
        patch = os.path.join(directory, "many.exe")
        common.write_archive(patch, b"", MAGIC, 33, [], b"", "current")
        result = run("verify", patch, "--json")
        check_one_line_error(result, 1, "TooManyEntries (0x80000002)")
        check(result.stdout == b"", "output printed for a refused patch")
        check_one_line_error(run("verify", os.path.join(directory, "missing.exe")), 1, "missing.exe")
    for arguments, usage in ((["verify", "--help"], b"verify"), (["help", "verify"], b"verify"),
                             (["hvl", "--help"], b"hvl"), (["hvl", "make", "-h"], b"hvl")):
        check(run_ok(*arguments).stdout.startswith(b"Usage: patchtool " + usage), f"{arguments}: no usage text")
    for arguments, fragment in ((["verify"], "one PATCH"), (["verify", "a", "b"], "one PATCH"),
                                (["verify", "--xml", "a"], "--xml")):
        check_one_line_error(run(*arguments), 2, fragment, "--help")


CASES = {name[len("test_"):]: function for name, function in sorted(globals().items()) if name.startswith("test_")}


if __name__ == "__main__":
    sys.exit(common.run_case(sys.argv, CASES, __doc__))
