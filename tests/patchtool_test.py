#!/usr/bin/python3
"""End-to-end tests of the built patchtool, one CTest test per case: every command's output and
refusals, against patches and version lists written here from the formats (patch_formats.py).

    patchtool_test.py --list             print the case names
    patchtool_test.py PATCHTOOL CASE     run one case against that patchtool (through the runner
                                         $PATCHTOOL_RUNNER, Wine, when set)
"""
import json
import os
import random
import subprocess
import sys
import tempfile

from patch_formats import LAYOUTS, PAYLOAD_OFFSET, archive, check_value, difference, entry_bytes, folder_state, \
    patch, read_version_list, version_list, write_folder

TOOL = None
MIB = 1 << 20


def run(*arguments, stdin=b"", status=0):
    """patchtool's standard output and error; line ends of the Windows build are turned into LF."""
    runner = os.environ.get("PATCHTOOL_RUNNER")
    result = subprocess.run([runner] * bool(runner) + [TOOL, *arguments], input=stdin, capture_output=True, timeout=300)
    out, err = result.stdout.replace(b"\r\n", b"\n"), result.stderr.replace(b"\r\n", b"\n").decode("utf-8", "replace")
    assert result.returncode == status, f"{arguments}: exit status {result.returncode}, not {status}: {err}"
    return out, err


def run_json(*arguments, status=0):
    out = run(*arguments, "--json", status=status)[0].decode("utf-8")
    assert out.count("\n") == 1 and out.endswith("\n"), f"not one line of JSON: {out!r}"
    return json.loads(out)


def write(folder, files):
    """Writes {relative name: bytes} below folder; returns the paths, in the order given."""
    write_folder(folder, files)
    return [os.path.join(folder, *name.split("/")) for name in files]


def listing(layout, entries, positions):
    """What list --json shows of an archive of (name, bytes) entries at (offset, size) positions."""
    base = PAYLOAD_OFFSET + 16 + len(entries) * LAYOUTS[layout][0]
    names = [(name if isinstance(name, bytes) else name.encode("cp932")).split(b"\0")[0] for name, _ in entries]
    return {"layout": layout, "count": len(entries), "dataBase": base, "entries": [
        {"name": name.decode("cp932"), "nameHex": name.hex(), "offset": offset, "size": size,
         "position": (base + offset) & 0xFFFFFFFF} for name, (offset, size) in zip(names, positions)]}


def test_checkvalue(work):
    rng = random.Random(35)
    sizes = [0, 1, 3, 255, 65536, MIB - 1, MIB, MIB + 1, 3 * MIB + 7]  # around the 1 MiB reading chunk
    data = {f"f{size}": rng.randbytes(size) for size in sizes} | {"abc": b"abc", "one": b"\xff"}
    paths = write(work, data)
    out = run("checkvalue", *paths)[0].decode()
    assert out == "".join(f"{check_value(d).hex()}  {p}\n" for p, d in zip(paths, data.values())), out
    assert check_value(b"abc").hex() == "06b4500012cc2660", "check value of abc"
    for arguments, stdin, expected in ((["-"], data["f3145735"], f"{check_value(data['f3145735']).hex()}  -\n"),
                                       ([], b"a", "6100000061616161  -\n"),
                                       ([paths[-1], "-"], b"a", f"ff000000ffffffff  {paths[-1]}\n6100000061616161  -\n")):
        assert run("checkvalue", *arguments, stdin=stdin)[0].decode() == expected, arguments
    out, err = run("checkvalue", os.path.join(work, "missing.bin"), paths[-2], status=1)  # goes on after it
    assert out.decode() == f"06b4500012cc2660  {paths[-2]}\n" and "missing.bin" in err and err.count("\n") == 1, err


def test_build_and_list(work):
    """build writes the bytes the format gives; list reads archives written from the format."""
    rng, magics = random.Random(31), {"current": None, "legacy": b"pelmar arc20"}  # what build writes
    for layout, count in (("current", 0), ("current", 32), ("legacy", 3), ("legacy", 32)):
        longest = LAYOUTS[layout][1] - 1
        names = [f"{i}データ.arc" if i % 3 == 0 else f"file{i:02}.Dat" for i in range(count - 1)] + ["x" * longest] * (count > 0)
        entries = [(name, rng.randbytes(MIB + 3 if i == 1 and layout == "current" else i * 7)) for i, name in enumerate(names)]
        stub = rng.randbytes(1000 + count)
        paths = write(os.path.join(work, f"{layout}{count}"), {"stub": stub} | {f"e{i}": d for i, (_, d) in enumerate(entries)})
        out = os.path.join(work, f"{layout}{count}.exe")
        run("build", "--stub", paths[0], "--out", out, *(["--legacy"] * (layout == "legacy")),
            *(f"{name}={path}" for (name, _), path in zip(entries, paths[1:])))
        with open(out, "rb") as file:
            assert file.read() == patch(entries, stub, layout=layout, magic=magics[layout]), f"{layout} {count}"
    for layout, magic in (("current", None), ("legacy", b"pelmar arc20"), ("legacy", bytes(12))):
        entries = [(b"a.arc\0garbage", b"data"), ("表\\能.arc", b""), (b"n" * LAYOUTS[layout][1], b"xyz")]
        positions = [(4000, 9), (0, 0), (0xFFFFFFFF, 2)]  # past the end, empty, wrapping round
        write(work, {"listed.exe": patch(entries, rng.randbytes(99), layout=layout, magic=magic, positions=positions)})
        shown = run_json("list", os.path.join(work, "listed.exe"))
        assert shown == listing(layout, entries, positions), f"{layout} {magic}: {shown}"
        assert "表\\能.arc" in run("list", os.path.join(work, "listed.exe"))[0].decode(), "text listing"


def test_build_from_folder(work):
    rng = random.Random(11)
    files = {"voice.arc": rng.randbytes(3000), "データ.arc": rng.randbytes(MIB + 5), "TLX.exe": b"", "bgm.arc": b"b"}
    write(os.path.join(work, "game"), files)
    write(os.path.join(work, "whole"), files | {"movie.arc": b"movie"})
    stub, out = write(work, {"stub.exe": b"MZ", "order.txt": b"bgm.arc\r\n\nvoice.arc\n", "given.hvl": b"QTS_____"})[0], \
        os.path.join(work, "setup.exe")
    ordered = sorted(files, key=str.encode)
    for options, names, listed in (([], ordered, ordered), (["--order", os.path.join(work, "order.txt"), "--hvl-from",
                                   os.path.join(work, "whole")], ["bgm.arc", "voice.arc"], sorted(files | {"movie.arc": 0}, key=str.encode))):
        run("build", "--stub", stub, "--out", out, "--from", os.path.join(work, "game"), *options)
        with open(out, "rb") as file:
            image = file.read()
        every = files | {"movie.arc": b"movie"}
        assert image == patch([(n, files[n]) for n in names] + [("TLX.hvl", version_list(
            [(n, check_value(every[n])) for n in listed]))], b"MZ"), f"{options}: bytes differ"
    run("build", "--stub", stub, "--out", out, "--from", os.path.join(work, "game"), "--hvl", os.path.join(work, "given.hvl"), "bgm.arc")
    with open(out, "rb") as file:
        assert entry_bytes(file.read(), b"TLX.hvl") == b"QTS_____", "a given version list is packed as it is"


def test_hvl(work):
    rng = random.Random(41)
    files = {"Data1.arc": b"", "sub/データ.arc": rng.randbytes(5), "sub/深い/ＡＢＣ.bin": rng.randbytes(MIB + 7)}
    for version, longest in (("v2", 247), ("v1", 55)):
        root = os.path.join(work, version)
        write(root, files | {"x" * (longest - 4) + ".bin": b"limit"})
        out = os.path.join(work, f"{version}.hvl")
        run("hvl", "make", "--out", out, "--root", root, *(["--v1"] * (version == "v1")), *files, "./" + "x" * (longest - 4) + ".bin")
        with open(out, "rb") as file:
            assert read_version_list(file.read()) == (version, 0, [(n.replace("/", "\\").encode("cp932"), check_value(d))
                                                                  for n, d in (files | {"x" * (longest - 4) + ".bin": b"limit"}).items()])
        records = [("a.arc", rng.randbytes(8)), ("表\\能.arc", rng.randbytes(8)), ("n" * (longest + 1), rng.randbytes(8)),
                   (b"sub\\x.arc\0junk", rng.randbytes(8)), ("", rng.randbytes(8))]
        write(work, {"shown.hvl": version_list(records, version, word=0xDEADBEEF, tail=b"tail")})
        names = [(n if isinstance(n, bytes) else n.encode("cp932")).split(b"\0")[0] for n, _ in records]
        assert run_json("hvl", "show", os.path.join(work, "shown.hvl")) == {
            "version": int(version[1]), "headerWord": 0xDEADBEEF, "count": 5, "trailingBytes": 4, "records": [
                {"name": n.decode("cp932"), "nameHex": n.hex(), "checkValue": v.hex()} for n, (_, v) in zip(names, records)]}
        text = run("hvl", "show", os.path.join(work, "shown.hvl"))[0].decode()
        assert "表\\能.arc" in text and "3735928559" in text and records[0][1].hex() in text, text


def test_verify(work):
    """verify reports each entry's target and status, and fails on a mismatch or an unreadable entry."""
    big, value = random.Random(43).randbytes(2 * MIB + 1), check_value(b"abc")
    entries = [("data.arc", b"abc"), ("x.arc", b"abc"), ("表.arc", b""), ("dup.arc", big), ("ＡＢ.arc", b"abc"), ("new.arc", b"abc")]
    records = [("sub\\Data.ARC", value), ("D:x.arc", value), ("表.arc", check_value(b"")), ("first\\DUP.arc", bytes(8)),
               ("dup.arc", check_value(big)), ("ａｂ.arc", value)]
    expected = [("sub\\Data.ARC", "ok"), ("D:x.arc", "ok"), ("表.arc", "ok"), ("first\\DUP.arc", "mismatch"), ("ａｂ.arc", "ok"),
                ("new.arc", "unverified")]
    cases = [  # the version list entry, the records it holds, (target, status) per entry, exit status
        (("TLX.hvl", version_list(records)), expected, 1),
        (("tlx.HVL", version_list(records[:3] + records[4:], "v1")), expected[:3] + [("dup.arc", "ok")] + expected[4:], 0),
        (("TLX.hvl", b"QTS_V3__" + bytes(8)), [(name, "unverified") for name, _ in entries], 0),
        (("sys\\tlx.hvl", version_list(records)), [(name, "unverified") for name, _ in entries], 0)]
    for number, (listed, targets, status) in enumerate(cases):
        write(work, {"v.exe": patch(entries + [listed])})
        report = run_json("verify", os.path.join(work, "v.exe"), status=status)
        got = [(e["name"], e["target"], e["status"], e["actual"]) for e in report["entries"]][:len(entries)]
        assert got == [(n, t, s, check_value(d).hex()) for (n, d), (t, s) in zip(entries, targets)], f"{number}: {got}"
    write(work, {"v.exe": patch([("a.arc", b"abc"), ("gone.arc", b"")], positions=[(0, 3), (9, 10)])})
    assert run_json("verify", os.path.join(work, "v.exe"), status=1)["entries"][1]["status"] == "unreadable"
    write(work, {"v.exe": patch(entries + [cases[0][0]])})
    assert "MISMATCH    dup.arc -> first\\DUP.arc" in run("verify", os.path.join(work, "v.exe"), status=1)[0].decode()


def test_refusals(work):
    """Each refusal is one line on standard error, before anything is written."""
    def at(*names):
        return os.path.join(work, *names)
    write(work, {"stub": b"MZ", "long-stub": bytes(PAYLOAD_OFFSET + 1), "e": b"x" * 10, "out.exe": b"previous",
                 "c" * 56: b"c", "euro€": b"e", "many.exe": patch([], count=33), "short.exe": bytes(PAYLOAD_OFFSET - 1),
                 "cut.exe": patch([("a", b"")])[:-100], "list.hvl": version_list([("a", bytes(8)), ("b", bytes(8))])[:-1],
                 "v3.hvl": b"QTS_V3__" + bytes(8), "half.hvl": b"QTS_V2__" + bytes(7), "huge.hvl": version_list([], count=1 << 24)}
                | {f"full/f{i:02}": b"" for i in range(32)} | {"listed/a.arc": b"", "listed/TLX.hvl": b""})
    os.symlink(at("out.exe"), at("link.exe"))
    build, make = ["build", "--stub", at("stub"), "--out", at("out.exe")], ["hvl", "make", "--out", at("out.exe"), "--root", work]
    cases = [
        (build + [f"n{i}={at('e')}" for i in range(33)], 1, "33"),
        (build + ["--from", at("full")], 1, "33 entries with the version list"),
        (build + ["a" * 96 + "=" + at("e")], 1, "95"),
        (build + ["--legacy", "a" * 16 + "=" + at("e")], 1, "15"),
        (build + ["あ" * 48 + "=" + at("e")], 1, "96 bytes"),
        (build + ["--legacy", "データ名前です.a=" + at("e")], 1, "16 bytes"),
        (build + ["euro€=" + at("e")], 1, "code page 932"),
        (build + ["=" + at("e")], 1, "empty name"),
        (build + ["..\\evil.arc=" + at("e")], 1, "outside the game folder"),
        (build + ["C:evil.arc=" + at("e")], 1, "outside the game folder"),
        (build + ["TLX.hvl=" + at("e"), "tlx.HVL=" + at("e")], 1, "twice"),
        (build + ["--from", at("listed"), "--hvl", at("stub")], 1, "holds a version list already"),
        (build + ["--from", at("full"), "--hvl", at("stub"), "--hvl-from", at("full")], 2, "not both"),
        (build + ["--order", at("stub")], 2, "go with --from"),
        (build + [at("absent.arc")], 1, "absent.arc"),
        (build + ["a=" + work], 1, "not a regular file"),
        (["build", "--stub", at("long-stub"), "--out", at("out.exe"), at("e")], 1, "0x60000"),
        (["build", "--stub", at("stub"), "--out", at("link.exe"), at("e")], 1, "not a regular file"),
        (["build", "--stub", at("stub"), "--out", at("no", "such.exe"), at("e")], 1, "does not exist"),
        (["build", "--stub", at("nostub"), "--out", at("out.exe")], 1, "nostub"),
        (["build", "--stub", at("stub"), at("e")], 2, "--out"),
        (build + ["--bogus"], 2, "--bogus"),
        (build + ["--stub", at("stub")], 2, "twice"),
        (make + ["b" * 248], 1, "247"),
        (make + ["--v1", "c" * 56], 1, "55"),
        (make + ["euro€"], 1, "code page 932"),
        (make + [at("e")], 1, "not relative"),
        (make + ["sub/../e"], 1, ".."),
        (make + ["e", "E"], 1, "twice"),
        (make + ["."], 1, "names no file"),
        (make + ["--json", "e"], 2, "--json"),
        (["hvl", "show", at("list.hvl")], 1, "counts 2 records"),
        (["hvl", "show", at("v3.hvl")], 1, "magic"),
        (["hvl", "show", at("half.hvl")], 1, "16-byte header"),
        (["hvl", "show", at("huge.hvl")], 1, "counts 16777216"),
        (["hvl", "show", "--v1", at("list.hvl")], 2, "--v1"),
        (["list", at("many.exe"), "--json"], 1, "TooManyEntries (0x80000002)"),
        (["verify", at("many.exe")], 1, "TooManyEntries (0x80000002)"),
        (["list", at("short.exe")], 1, "PayloadDamaged (0x80000001)"),
        (["list", at("cut.exe")], 1, "PayloadDamaged (0x80000001)"),
        (["list", at("missing.exe")], 1, "missing.exe"),
        (["verify", at("missing.exe")], 1, "missing.exe"),
        (["checkvalue", work], 1, work),
        (["apply", at("many.exe")], 2, "--folder"),
        (["apply", at("many.exe"), "--folder", at("nowhere")], 1, "not a folder"),
        (["apply", at("missing.exe"), "--folder", work], 1, "missing.exe"),
        ([], 2, "no command"), (["frobnicate"], 2, "frobnicate"), (["help", "frobnicate"], 2, "frobnicate"),
        (["list"], 2, "one PATCH"), (["verify", "a", "b"], 2, "one PATCH"), (["list", "--json=yes", "a"], 2, "no value"),
        (["hvl"], 2, "make"), (["hvl", "frobnicate"], 2, "frobnicate"), (["--stub"], 2, "--help")]
    before = folder_state(work)
    for arguments, status, fragment in cases:
        out, err = run(*arguments, status=status)
        assert out == b"" and err.startswith("patchtool: ") and err.count("\n") == 1 and fragment in err, \
            f"{arguments}: {out!r} {err!r}"
        assert not difference(folder_state(work), before), f"{arguments}: {difference(folder_state(work), before)}"
    for arguments in (["--help"], ["-h"], ["help"], ["help", "build"], ["list", "-h"], ["hvl", "make", "-h"],
                      ["verify", "--help"], ["checkvalue", "--help"], ["apply", "--help"]):
        assert run(*arguments)[0].startswith(b"Usage: patchtool " + b" ".join(a.encode() for a in arguments[:2] if a[0] != "-" and a != "help")), arguments
    run("build", "--stub", at("stub"), "--out", at("out.exe"), "a" * 95 + "=" + at("e"), "あ" * 47 + "b=" + at("e"))
    assert run_json("list", at("out.exe"))["entries"][1]["name"] == "あ" * 47 + "b", "names that fill their field"


def apply_patch(work):
    """An install folder and a patch for it, both written here; the folder an uninterrupted run leaves."""
    rng = random.Random(7)
    a, big = rng.randbytes(5000), rng.randbytes(MIB + 3)
    records = [("a.arc", check_value(a)), ("missing.arc", bytes(8)), ("kept.arc", bytes(8)), ("Big.ARC", check_value(big))]
    write(work, {"game/a.arc": b"old a", "game/kept.arc": b"kept", "game/uninst.lst": b"Kept.arc\r\n$Dir\r\n",
                 "setup.exe": patch([("a.arc", a), ("b.arc", b"b"), ("big.arc", big), ("TLX.hvl", version_list(records))])})
    return os.path.join(work, "setup.exe"), os.path.join(work, "game"), {
        "a.arc": a, "b.arc": b"b", "Big.ARC": big, "kept.arc": b"kept", "TLX.hvl": version_list(records[:1] + records[2:]),
        "uninst.lst": b"kept.arc\na.arc\nb.arc\nbig.arc\ntlx.hvl\n$dir\n\0"}


def test_apply_installs_a_patch(work):
    setup, game, expected = apply_patch(work)
    report = run_json("apply", setup, "--folder", game + "/")
    assert report == {"result": "Ok", "code": "0x00000000", "installed": ["a.arc", "b.arc", "Big.ARC", "TLX.hvl"]}, report
    assert not difference(folder_state(game), expected), difference(folder_state(game), expected)


def test_apply_refuses_a_damaged_patch(work):
    setup, game, _ = apply_patch(work)
    with open(setup, "r+b") as file:  # one byte of a.arc changed
        file.seek(PAYLOAD_OFFSET + 16 + 4 * 128)
        file.write(b"!")
    before = folder_state(game)
    assert run("apply", setup, "--folder", game, status=1)[0] == b"PayloadDamaged (0x80000001)\n"
    assert not difference(folder_state(game), before), difference(folder_state(game), before)
    os.remove(os.path.join(game, "uninst.lst"))  # no version list: installed unverified; no uninst.lst: not merged
    write(work, {"setup.exe": patch([("a.arc", b"new a")])})
    assert run_json("apply", setup, "--folder", game, status=1) == {
        "result": "UninstallListFailed", "code": "0x80000005", "installed": ["a.arc"]}
    assert folder_state(game) == {"a.arc": b"new a", "kept.arc": b"kept"}


CASES = {name[len("test_"):]: function for name, function in globals().items() if name.startswith("test_")}

if __name__ == "__main__":
    if sys.argv[1:] == ["--list"]:
        print(";".join(CASES))
        sys.exit(0)
    if len(sys.argv) != 3 or sys.argv[2] not in CASES:
        sys.exit(__doc__)
    TOOL = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as folder:
        CASES[sys.argv[2]](folder)
    print(f"passed {sys.argv[2]}")
