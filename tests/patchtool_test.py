#!/usr/bin/python3
"""End-to-end tests of the built patchtool, one CTest test per case.

    patchtool_test.py --list             print the case names
    patchtool_test.py PATCHTOOL CASE     run one case against the patchtool executable

Archives and check values are computed here independently of the C++ code: the expected
listings come from archives this script writes itself, and the check value from the rule written
out again below.
"""
import json
import os
import random
import struct
import subprocess
import sys
import tempfile

PAYLOAD_OFFSET = 0x60000
MAGIC = b"PELMAR ARC20"
LAYOUTS = {"current": (128, 96), "legacy": (32, 16)}  # index entry size, name field size
PATCHTOOL = None


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(*arguments, stdin=b""):
    """Runs patchtool; the Windows build runs through the runner named by PATCHTOOL_RUNNER (Wine),
    whose text-mode line ends are turned back into LF."""
    runner = os.environ.get("PATCHTOOL_RUNNER")
    command = [runner, PATCHTOOL, *arguments] if runner else [PATCHTOOL, *arguments]
    result = subprocess.run(command, input=stdin, capture_output=True, timeout=120)
    if runner:
        result.stdout = result.stdout.replace(b"\r\n", b"\n")
        result.stderr = result.stderr.replace(b"\r\n", b"\n")
    return result


def run_ok(*arguments, stdin=b""):
    result = run(*arguments, stdin=stdin)
    check(result.returncode == 0, f"{arguments} failed ({result.returncode}): {result.stderr.decode(errors='replace')}")
    return result


def check_one_line_error(result, status, *fragments):
    """A failure is one line on standard error, the given exit status and nothing half-printed."""
    text = result.stderr.decode("utf-8", errors="replace")
    check(result.returncode == status, f"exit status {result.returncode}, expected {status}: {text!r}")
    check(text.startswith("patchtool: ") and text.count("\n") == 1 and text.endswith("\n"), f"not one line: {text!r}")
    for fragment in fragments:
        check(fragment in text, f"{fragment!r} missing from {text!r}")


def reference_check_value(data):
    """The check value rule, byte by byte: hash = hash * 233 + d; sums and xors of the hash's low
    byte after each step and of the data bytes."""
    hash_value = low_sum = low_xor = data_sum = data_xor = 0
    for d in data:
        hash_value = (hash_value * 233 + d) & 0xFFFFFFFF
        low = hash_value & 0xFF
        low_sum = (low_sum + low) & 0xFF
        low_xor ^= low
        data_sum = (data_sum + d) & 0xFF
        data_xor ^= d
    return struct.pack("<IBBBB", hash_value, low_sum, low_xor, data_sum, data_xor)


def write_archive(path, stub, magic, count, fields, data, layout):
    """An archive written from the format alone: stub padded to 0x60000, 16-byte header, raw index
    entries (name field bytes, offset, size, reserved bytes) and the data bytes."""
    entry_size, name_field = LAYOUTS[layout]
    image = bytearray(stub) + bytes(PAYLOAD_OFFSET - len(stub))
    image += magic + struct.pack("<I", count)
    for name_bytes, offset, size, reserved in fields:
        check(len(name_bytes) == name_field and len(reserved) == entry_size - name_field - 8, "bad test entry")
        image += name_bytes + struct.pack("<II", offset, size) + reserved
    image += data
    with open(path, "wb") as file:
        file.write(image)


def stored_name(name_bytes):
    """The name as the reader sees it: up to the NUL, or the whole field when there is none."""
    return name_bytes.split(b"\0", 1)[0]


def expected_listing(layout, count, fields):
    entry_size = LAYOUTS[layout][0]
    data_base = PAYLOAD_OFFSET + 16 + count * entry_size
    entries = []
    for name_bytes, offset, size, _ in fields:
        name = stored_name(name_bytes)
        entries.append({"name": name.decode("cp932"), "nameHex": name.hex(), "offset": offset, "size": size,
                        "position": (data_base + offset) & 0xFFFFFFFF})
    return {"layout": layout, "count": count, "dataBase": data_base, "entries": entries}


def list_json(patch):
    result = run_ok("list", patch, "--json")
    text = result.stdout.decode("utf-8")
    check(text.endswith("\n") and text.count("\n") == 1, f"JSON is not one line: {text!r}")
    return json.loads(text)


# Names in the form the publisher types them (UTF-8); the archive must hold their CP932 bytes.
DOUBLE_BYTE_NAMES = ["データ.arc", "表示.arc", "ソフト\\能力.dat", "ＡＢＣｘｙｚ.bin", "ｶﾀｶﾅ.txt", "音声０１.arc"]


def entry_names(count, layout, rng):
    longest = LAYOUTS[layout][1] - 1
    names = []
    for i in range(count):
        if i % 3 == 0:
            name = DOUBLE_BYTE_NAMES[i // 3 % len(DOUBLE_BYTE_NAMES)]
            name = f"{i}{name}"
            while len(name.encode("cp932")) > longest:
                name = name[:-1]
        else:
            name = f"file{i:02}.{rng.choice(['arc', 'exe', 'HVL', 'Dat'])}"
        names.append(name)
    names[-1:] = ["x" * longest] if count > 1 else names[-1:]  # a name that fills its field exactly
    return names


def build_and_list(layout, count, parent, rng):
    directory = os.path.join(parent, f"{layout}-{count}")
    os.mkdir(directory)
    stub = rng.randbytes(rng.choice([0, 1000, PAYLOAD_OFFSET]))
    stub_path = os.path.join(directory, "stub.exe")
    with open(stub_path, "wb") as file:
        file.write(stub)
    names = entry_names(count, layout, rng)
    operands, contents = [], []
    for i, name in enumerate(names):
        size = rng.choice([0, 1, 100, 4096, 70000]) if i != 1 else (1 << 20) + 3  # one crosses a 1 MiB chunk
        content = rng.randbytes(size)
        contents.append(content)
        if i % 2 == 0 and "\\" not in name:
            path = os.path.join(directory, f"in{i}", name)  # PATH form: the file name becomes the name
            os.makedirs(os.path.dirname(path))
            operands.append(path)
        else:
            path = os.path.join(directory, f"entry{i}.bin")
            operands.append(f"{name}={path}")
        with open(path, "wb") as file:
            file.write(content)
    patch = os.path.join(directory, f"{layout}-{count}.exe")
    run_ok("build", "--stub", stub_path, "--out", patch, *(["--legacy"] if layout == "legacy" else []), *operands)

    # The listing agrees with an archive laid out back to back from offset 0.
    entry_size, name_field = LAYOUTS[layout]
    offset, fields = 0, []
    for name, content in zip(names, contents):
        encoded = name.encode("cp932")
        fields.append((encoded + bytes(name_field - len(encoded)), offset, len(content), bytes(entry_size - name_field - 8)))
        offset += len(content)
    expected = expected_listing(layout, count, fields)
    listing = list_json(patch)
    check(listing == expected, f"listing differs:\n{listing}\nexpected\n{expected}")

    # The file itself, byte for byte.
    with open(patch, "rb") as file:
        image = file.read()
    data_base = expected["dataBase"]
    check(image[:len(stub)] == stub and image[len(stub):PAYLOAD_OFFSET] == bytes(PAYLOAD_OFFSET - len(stub)),
          "stub or padding differs")
    magic, stored_count = image[PAYLOAD_OFFSET:PAYLOAD_OFFSET + 12], struct.unpack_from("<I", image, PAYLOAD_OFFSET + 12)[0]
    check((magic == MAGIC) == (layout == "current") and stored_count == count, f"header {magic!r} {stored_count}")
    index = image[PAYLOAD_OFFSET + 16:data_base]
    check(index == b"".join(f[0] + struct.pack("<II", f[1], f[2]) + f[3] for f in fields), "index bytes differ")
    check(image[data_base:] == b"".join(contents), "entry data differ")

    text = run_ok("list", patch).stdout.decode("utf-8")
    for name in names:
        check(name in text, f"{name} missing from the text listing")


def test_build_list_round_trip_current():
    rng = random.Random(31)
    with tempfile.TemporaryDirectory() as directory:
        for count in (0, 1, 7, 32):
            build_and_list("current", count, directory, rng)


def test_build_list_round_trip_legacy():
    rng = random.Random(32)
    with tempfile.TemporaryDirectory() as directory:
        for count in (0, 3, 32):
            build_and_list("legacy", count, directory, rng)


def independent_fields(layout, count, rng):
    """Index entries as any writer might make them: double-byte names, garbage after the NUL,
    reserved bytes set, offsets in any order, overlapping or past the end of the file."""
    entry_size, name_field = LAYOUTS[layout]
    fields = []
    for i in range(count):
        name = (f"{i}" + DOUBLE_BYTE_NAMES[i % len(DOUBLE_BYTE_NAMES)]).encode("cp932")[:name_field - 1]
        name = name.decode("cp932", errors="ignore").encode("cp932")  # no character cut in half
        if i == 5:
            name = b"n" * name_field  # fills its field without a NUL: cut at the field's end
        tail = bytes(name_field - len(name))
        if i % 4 == 1 and len(tail) > 2:
            tail = b"\0" + rng.randbytes(len(tail) - 1)
        reserved = rng.randbytes(entry_size - name_field - 8) if i % 2 else bytes(entry_size - name_field - 8)
        fields.append((name + tail, rng.randrange(0, 5000), rng.randrange(0, 3000), reserved))
    return fields


def test_list_reads_independently_written_archives():
    rng = random.Random(33)
    with tempfile.TemporaryDirectory() as directory:
        cases = [("current", MAGIC, 0), ("current", MAGIC, 7), ("current", MAGIC, 32),
                 ("legacy", b"pelmar arc20", 3), ("legacy", b"PELMAR ARC21", 32), ("legacy", bytes(12), 1),
                 ("legacy", rng.randbytes(12), 0)]
        for number, (layout, magic, count) in enumerate(cases):
            fields = independent_fields(layout, count, rng)
            patch = os.path.join(directory, f"independent{number}.exe")
            write_archive(patch, rng.randbytes(2000), magic, count, fields, rng.randbytes(4000), layout)
            listing = list_json(patch)
            expected = expected_listing(layout, count, fields)
            check(listing == expected, f"{layout} {magic!r} {count}:\n{listing}\nexpected\n{expected}")


def test_archive_of_33_entries_is_refused():
    rng = random.Random(34)
    with tempfile.TemporaryDirectory() as directory:
        for magic, count in ((MAGIC, 33), (b"pelmar arc20", 33), (MAGIC, 0xFFFFFFFF)):
            fields = independent_fields("current", 33, rng)
            patch = os.path.join(directory, "many.exe")
            write_archive(patch, b"", magic, count, fields, b"", "current")
            for extra in ([], ["--json"]):
                result = run("list", patch, *extra)
                check_one_line_error(result, 1, "TooManyEntries (0x80000002)")
                check(result.stdout == b"", "output printed for a refused archive")
        # build refuses to write what the updater would refuse.
        stub, entry = os.path.join(directory, "stub"), os.path.join(directory, "entry")
        for path in (stub, entry):
            open(path, "wb").close()
        out = os.path.join(directory, "out.exe")
        result = run("build", "--stub", stub, "--out", out, *[f"n{i}={entry}" for i in range(33)])
        check_one_line_error(result, 1, "33")
        check(not os.path.exists(out), "a patch of 33 entries was written")
        run_ok("build", "--stub", stub, "--out", out, *[f"n{i}={entry}" for i in range(32)])


def test_list_reports_damaged_patches():
    with tempfile.TemporaryDirectory() as directory:
        patch = os.path.join(directory, "damaged.exe")
        for image in (bytes(PAYLOAD_OFFSET - 1), bytes(PAYLOAD_OFFSET), bytes(PAYLOAD_OFFSET) + MAGIC + b"\2\0\0\0" + bytes(255)):
            with open(patch, "wb") as file:
                file.write(image)
            check_one_line_error(run("list", patch), 1, "PayloadDamaged (0x80000001)")
        check_one_line_error(run("list", os.path.join(directory, "missing.exe")), 1, "missing.exe")
        check_one_line_error(run("list", directory), 1)


def test_checkvalue_matches_an_independent_implementation():
    rng = random.Random(35)
    mib = 1 << 20
    sizes = [0, 1, 2, 3, 255, 65536, mib - 1, mib, mib + 1, 2 * mib + 12345, 3 * mib + 7]
    with tempfile.TemporaryDirectory() as directory:
        paths, expected = [], []
        for i, size in enumerate(sizes):
            data = rng.randbytes(size)
            path = os.path.join(directory, f"random{i}.bin")
            with open(path, "wb") as file:
                file.write(data)
            paths.append(path)
            expected.append(f"{reference_check_value(data).hex()}  {path}\n")
        output = run_ok("checkvalue", *paths).stdout.decode()
        check(output == "".join(expected), f"check values differ:\n{output}expected\n{''.join(expected)}")
        abc = os.path.join(directory, "abc")
        with open(abc, "wb") as file:
            file.write(b"abc")
        check(run_ok("checkvalue", abc).stdout.decode() == f"06b4500012cc2660  {abc}\n", "worked example")


def test_checkvalue_reads_standard_input():
    rng = random.Random(36)
    data = rng.randbytes(3 * (1 << 20) + 5)
    value = reference_check_value(data).hex()
    check(run_ok("checkvalue", "-", stdin=data).stdout.decode() == f"{value}  -\n", "'-' is standard input")
    check(run_ok("checkvalue", stdin=data).stdout.decode() == f"{value}  -\n", "no FILE reads standard input")
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "single")
        with open(path, "wb") as file:
            file.write(b"\xff")
        output = run_ok("checkvalue", path, "-", stdin=b"a").stdout.decode()
        check(output == f"ff000000ffffffff  {path}\n6100000061616161  -\n", f"mixed files and '-': {output!r}")


def test_checkvalue_reports_unreadable_files_and_goes_on():
    with tempfile.TemporaryDirectory() as directory:
        missing = os.path.join(directory, "missing.bin")
        present = os.path.join(directory, "present.bin")
        with open(present, "wb") as file:
            file.write(b"a")
        result = run("checkvalue", missing, present)
        check_one_line_error(result, 1, "missing.bin")
        check(result.stdout.decode() == f"6100000061616161  {present}\n", "the readable file is still printed")
        check_one_line_error(run("checkvalue", directory), 1, directory)


def test_build_refuses_bad_input_and_leaves_no_file():
    with tempfile.TemporaryDirectory() as directory:
        def path(name, size=0):
            full = os.path.join(directory, name)
            with open(full, "wb") as file:
                file.write(bytes(size))
            return full
        stub, long_stub, entry = path("stub"), path("long-stub", PAYLOAD_OFFSET + 1), path("entry", 10)
        out = os.path.join(directory, "out.exe")
        with open(out, "wb") as file:
            file.write(b"previous patch")
        link = os.path.join(directory, "link.exe")
        os.symlink(out, link)
        cases = [  # arguments after build, exit status, fragments of the message
            (["--stub", stub, "--out", link, entry], 1, ["not a regular file"]),
            (["--stub", stub, "--out", directory, entry], 1, ["not a regular file"]),
            (["--stub", long_stub, "--out", out, entry], 1, ["393217", "0x60000"]),
            (["--stub", os.path.join(directory, "nostub"), "--out", out], 1, ["nostub"]),
            (["--stub", stub, "--out", out, "a" * 96 + "=" + entry], 1, ["95"]),
            (["--stub", stub, "--out", out, "--legacy", "a" * 16 + "=" + entry], 1, ["15"]),
            (["--stub", stub, "--out", out, "あ" * 48 + "=" + entry], 1, ["96 bytes"]),  # 96 bytes in code page 932
            (["--stub", stub, "--out", out, "--legacy", "データ名前です.a=" + entry], 1, ["16 bytes"]),
            (["--stub", stub, "--out", out, "price¥.txt=" + entry], 1, ["code page 932"]),
            (["--stub", stub, "--out", out, "euro€=" + entry], 1, ["code page 932"]),
            (["--stub", stub, "--out", out, "=" + entry], 1, ["empty name"]),
            (["--stub", stub, "--out", out, os.path.join(directory, "absent.arc")], 1, ["absent.arc"]),
            (["--stub", stub, "--out", out, "a=" + directory], 1, ["not a regular file"]),
            (["--stub", stub, "--out", out, "TLX.hvl=" + entry, "tlx.HVL=" + entry], 1, ["twice"]),
            (["--stub", stub, "--out", os.path.join(directory, "no", "such", "folder.exe"), entry], 1,
             ["folder.exe:", "does not exist"]),
            (["--stub", stub, entry], 2, ["--out"]),
            (["--out", out, entry], 2, ["--stub"]),
            (["--stub", stub, "--out", out, "--bogus", entry], 2, ["--bogus"]),
            (["--stub", stub, "--stub", stub, "--out", out], 2, ["twice"]),
            (["--stub"], 2, ["needs a value"]),
        ]
        for arguments, status, fragments in cases:
            result = run("build", *arguments)
            try:
                check_one_line_error(result, status, *fragments)
            except Failure as failure:
                raise Failure(f"build {arguments}: {failure}")
            with open(out, "rb") as file:
                check(file.read() == b"previous patch", f"build {arguments} changed the existing patch")
            check(os.path.islink(link), f"build {arguments} replaced the link")
        check(sorted(os.listdir(directory)) == ["entry", "link.exe", "long-stub", "out.exe", "stub"], f"files left: {os.listdir(directory)}")

        # The limits themselves are accepted, and a good build replaces the previous patch.
        exact_stub = path("exact-stub", PAYLOAD_OFFSET)
        run_ok("build", "--stub", exact_stub, "--out", out, "a" * 95 + "=" + entry, "あ" * 47 + "b=" + entry)
        listing = list_json(out)
        check([e["name"] for e in listing["entries"]] == ["a" * 95, "あ" * 47 + "b"], f"limits: {listing}")
        run_ok("build", "--stub", stub, "--out", out, "--legacy", "a" * 15 + "=" + entry, "データ名前.ab=" + entry)
        check(list_json(out)["layout"] == "legacy", "legacy layout")


def test_help_and_usage_errors():
    for arguments in (["--help"], ["-h"], ["help"], ["help", "build"], ["build", "--help"], ["list", "-h"],
                      ["checkvalue", "--help"]):
        result = run_ok(*arguments)
        check(result.stdout.startswith(b"Usage: patchtool"), f"{arguments}: {result.stdout[:60]!r}")
    for arguments, fragment in (([], "no command"), (["frobnicate"], "frobnicate"), (["list"], "one PATCH"),
                                (["list", "a", "b"], "one PATCH"), (["list", "--xml", "a"], "--xml"),
                                (["help", "frobnicate"], "frobnicate"), (["list", "--json=yes", "a"], "no value")):
        result = run(*arguments)
        check_one_line_error(result, 2, fragment, "--help")
        check(result.stdout == b"", f"{arguments} printed output")


def write_patch(path, entries):
    """A current-layout patch of (name bytes, data) entries stored back to back, written here."""
    fields, data = [], b""
    for name, payload in entries:
        fields.append((name + bytes(96 - len(name)), len(data), len(payload), bytes(24)))
        data += payload
    write_archive(path, b"MZ", MAGIC, len(entries), fields, data, "current")


def version_list(records):
    """A version 2 list of (name bytes, check value) records."""
    body = b"".join(name + bytes(248 - len(name)) + value for name, value in records)
    return b"QTS_V2__" + struct.pack("<II", 0, len(records)) + body


def folder_state(folder):
    """Every file below the folder by relative path with "/" separators, and its bytes."""
    state = {}
    for root, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(root, name)
            with open(path, "rb") as file:
                state[os.path.relpath(path, folder).replace(os.sep, "/")] = file.read()
    return state


def make_folder(folder, files):
    for name, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
        with open(os.path.join(folder, name), "wb") as file:
            file.write(data)


def test_apply_installs_an_independently_written_patch():
    rng = random.Random(7)
    with tempfile.TemporaryDirectory() as parent:
        folder = os.path.join(parent, "game")
        make_folder(folder, {"a.arc": b"old a", "kept.arc": b"kept", "uninst.lst": b"Kept.arc\r\n$Dir\r\n"})
        a_data, b_data, big = rng.randbytes(5000), rng.randbytes(10), rng.randbytes((1 << 20) + 3)
        records = [(b"a.arc", reference_check_value(a_data)), (b"missing.arc", bytes(8)),
                   (b"kept.arc", bytes(8)), (b"Big.ARC", reference_check_value(big))]
        patch = os.path.join(parent, "setup.exe")
        write_patch(patch, [(b"a.arc", a_data), (b"b.arc", b_data), (b"big.arc", big),
                            (b"TLX.hvl", version_list(records))])
        result = run_ok("apply", patch, "--folder", folder + "/", "--json")
        report = json.loads(result.stdout.decode("utf-8"))
        check(report == {"result": "Ok", "code": "0x00000000", "installed": ["a.arc", "b.arc", "Big.ARC", "TLX.hvl"]},
              f"report {report}")
        state = folder_state(folder)
        expected = {"a.arc": a_data, "b.arc": b_data, "Big.ARC": big, "kept.arc": b"kept",
                    "TLX.hvl": version_list([records[0], records[2], records[3]]),
                    "uninst.lst": b"kept.arc\na.arc\nb.arc\nbig.arc\ntlx.hvl\n$dir\n\0"}
        check(state == expected, f"folder differs in {sorted(k for k in set(state) | set(expected) if state.get(k) != expected.get(k))}")


def test_apply_refuses_a_damaged_patch_and_leaves_the_folder():
    with tempfile.TemporaryDirectory() as parent:
        folder = os.path.join(parent, "game")
        make_folder(folder, {"a.arc": b"old a", "uninst.lst": b"a.arc\n"})
        before = folder_state(folder)
        patch = os.path.join(parent, "setup.exe")
        write_patch(patch, [(b"a.arc", b"new a"), (b"TLX.hvl", version_list([(b"a.arc", bytes(8))]))])
        result = run("apply", patch, "--folder", folder)
        check(result.returncode == 1 and result.stdout == b"PayloadDamaged (0x80000001)\n",
              f"{result.returncode} {result.stdout!r}")
        check(folder_state(folder) == before, "the folder changed")
        # Without a version list the entry is installed unverified; without uninst.lst the merge fails.
        os.remove(os.path.join(folder, "uninst.lst"))
        write_patch(patch, [(b"a.arc", b"new a")])
        result = run("apply", patch, "--folder", folder, "--json")
        report = json.loads(result.stdout)
        check(result.returncode == 1 and report == {
            "result": "UninstallListFailed", "code": "0x80000005", "installed": ["a.arc"]}, f"{report}")
        check(folder_state(folder) == {"a.arc": b"new a"}, "a.arc not installed")


def test_apply_command_line_errors():
    with tempfile.TemporaryDirectory() as parent:
        patch = os.path.join(parent, "setup.exe")
        write_patch(patch, [])
        check_one_line_error(run("apply", patch), 2, "--folder")
        check_one_line_error(run("apply", patch, "--folder", os.path.join(parent, "nowhere")), 1, "not a folder")
        check_one_line_error(run("apply", os.path.join(parent, "missing.exe"), "--folder", parent), 1, "missing.exe")
        check(run("apply", "--help").returncode == 0, "apply --help")


def entry_bytes(patch, listing, name):
    with open(patch, "rb") as file:
        image = file.read()
    for entry in listing["entries"]:
        if entry["name"] == name:
            return image[entry["position"]:entry["position"] + entry["size"]]
    raise Failure(f"no entry {name}")


def test_build_from_folder_packs_sorted_files_and_makes_the_version_list():
    rng = random.Random(11)
    with tempfile.TemporaryDirectory() as parent:
        game = os.path.join(parent, "game")
        files = {"voice.arc": rng.randbytes(3000), "データ.arc": rng.randbytes((1 << 20) + 5), "TLX.exe": b"",
                 "bgm.arc": rng.randbytes(17)}
        make_folder(game, files)
        stub = os.path.join(parent, "stub.exe")
        with open(stub, "wb") as file:
            file.write(b"MZ" + bytes(100))
        patch = os.path.join(parent, "setup.exe")
        run_ok("build", "--stub", stub, "--out", patch, "--from", game)
        listing = list_json(patch)
        names = [entry["name"] for entry in listing["entries"]]
        expected_order = sorted(files, key=lambda name: name.encode("utf-8")) + ["TLX.hvl"]
        check(names == expected_order, f"entries {names}")
        records = [(name.encode("cp932"), reference_check_value(files[name])) for name in expected_order[:-1]]
        check(entry_bytes(patch, listing, "TLX.hvl") == version_list(records), "the made version list differs")
        for name, data in files.items():
            check(entry_bytes(patch, listing, name) == data, f"{name} packed wrongly")

        # The same patch, with the whole game's list from another folder and an order file.
        whole = os.path.join(parent, "whole")
        make_folder(whole, {**files, "movie.arc": b"movie"})
        order = os.path.join(parent, "order.txt")
        with open(order, "w", encoding="utf-8") as file:
            file.write("bgm.arc\r\n\nvoice.arc\n")
        run_ok("build", "--stub", stub, "--out", patch, "--from", game, "--order", order, "--hvl-from", whole)
        listing = list_json(patch)
        check([entry["name"] for entry in listing["entries"]] == ["bgm.arc", "voice.arc", "TLX.hvl"], "order file")
        everything = sorted({**files, "movie.arc": b"movie"}, key=lambda name: name.encode("utf-8"))
        records = [(name.encode("cp932"), reference_check_value(b"movie" if name == "movie.arc" else files[name]))
                   for name in everything]
        check(entry_bytes(patch, listing, "TLX.hvl") == version_list(records), "the list from --hvl-from differs")

        # A given list is packed as it is.
        given = os.path.join(parent, "given.hvl")
        with open(given, "wb") as file:
            file.write(b"QTS_____" + bytes(8))
        run_ok("build", "--stub", stub, "--out", patch, "--from", game, "--hvl", given, "bgm.arc")
        listing = list_json(patch)
        check(entry_bytes(patch, listing, "TLX.hvl") == b"QTS_____" + bytes(8), "the given list was changed")


def test_build_refuses_what_the_updater_could_not_install_before_writing():
    with tempfile.TemporaryDirectory() as parent:
        stub = os.path.join(parent, "stub.exe")
        with open(stub, "wb") as file:
            file.write(b"MZ")
        patch = os.path.join(parent, "setup.exe")
        full = os.path.join(parent, "full")
        make_folder(full, {f"f{i:02}.dat": b"x" for i in range(32)})
        listed = os.path.join(parent, "listed")
        make_folder(listed, {"a.arc": b"a", "TLX.hvl": b"QTS_V2__" + bytes(8)})
        cases = [
            (["--from", full], "33 entries with the version list"),
            (["--from", listed, "--hvl", stub], "holds a version list already"),
            (["--from", full, "--hvl", stub, "--hvl-from", full], "not both"),
            ([f"..\\evil.arc={stub}"], "outside the game folder"),
            ([f"C:evil.arc={stub}"], "outside the game folder"),
            (["--order", stub], "go with --from"),
        ]
        for arguments, fragment in cases:
            result = run("build", "--stub", stub, "--out", patch, *arguments)
            check(result.returncode != 0 and fragment in result.stderr.decode("utf-8", "replace"),
                  f"{arguments}: {result.returncode} {result.stderr!r}")
            written = [name for name in os.listdir(parent) if name.startswith("setup.exe")]
            check(not written, f"{arguments}: {written} written")


CASES = {name[len("test_"):]: function for name, function in sorted(globals().items()) if name.startswith("test_")}


def run_case(argv, cases, usage):
    """The command line of a patchtool test script: '--list' prints the case names; 'PATCHTOOL CASE'
    runs one case against that patchtool. Returns the exit status."""
    global PATCHTOOL
    if len(argv) == 2 and argv[1] == "--list":
        print(";".join(cases))
        return 0
    if len(argv) != 3 or argv[2] not in cases:
        print(usage.strip())
        return 2
    PATCHTOOL = os.path.abspath(argv[1])
    try:
        cases[argv[2]]()
    except Failure as failure:
        print(f"FAILED {argv[2]}: {failure}")
        return 1
    print(f"passed {argv[2]}")
    return 0


if __name__ == "__main__":
    sys.exit(run_case(sys.argv, CASES, __doc__))
