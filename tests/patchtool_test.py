#!/usr/bin/python3
"""patchtool_test.py --list | [RUNNER] PATCHTOOL CASE: every patchtool command's output and refusals, against
patches and version lists that patch_formats.py writes; each case runs in a fresh folder."""
import fcntl
import json
import os
import pty
import random
import re
import socket
import subprocess
import sys
import tempfile
from pathlib import Path

from patch_formats import LAYOUTS, PAYLOAD_OFFSET, check_value, difference, folder_state, patch, \
    read_version_list, version_list, write_folder

TOOL, MIB, ROOT = None, 1 << 20, Path(__file__).resolve().parents[1]


def run(*arguments, stdin=b"", status=0, env=None):
    """Standard output and error; the Windows build's line ends become LF."""
    environment = os.environ | env if env else None
    result = subprocess.run([*TOOL, *arguments], input=stdin, capture_output=True, timeout=300, env=environment)
    out, err = result.stdout.replace(b"\r\n", b"\n"), result.stderr.replace(b"\r\n", b"\n").decode("utf-8", "replace")
    assert result.returncode == status, f"{arguments}: exit status {result.returncode}, not {status}: {err}"
    return out, err


def run_json(*arguments, status=0):
    out = run(*arguments, "--json", status=status)[0].decode("utf-8")
    return json.loads(out) if out.count("\n") == 1 and out.endswith("\n") else f"not one line: {out!r}"


def stored(name):  # a name field's text
    return (name if isinstance(name, bytes) else name.encode("cp932")).split(b"\0")[0]


def test_checkvalue():
    sizes = [0, 1, 3, 255, 65536, MIB - 1, MIB, MIB + 1, 3 * MIB + 7]  # around the 1 MiB reading chunk
    data = {f"f{size}": random.Random(size).randbytes(size) for size in sizes} | {"abc": b"abc", "one": b"\xff"}
    write_folder(".", data)
    assert run("checkvalue", *data)[0].decode() == "".join(f"{check_value(d).hex()}  {n}\n" for n, d in data.items())
    assert check_value(b"abc").hex() == "06b4500012cc2660", "check value of abc"
    for arguments, stdin, expected in ((["-"], data["f1048577"], f"{check_value(data['f1048577']).hex()}  -\n"),
                                       ([], b"a", "6100000061616161  -\n"),
                                       (["one", "-"], b"a", "ff000000ffffffff  one\n6100000061616161  -\n")):
        assert run("checkvalue", *arguments, stdin=stdin)[0].decode() == expected, arguments
    out, err = run("checkvalue", "missing.bin", "abc", status=1)  # it goes on after an unreadable file
    assert out == b"06b4500012cc2660  abc\n" and "missing.bin" in err and err.count("\n") == 1, err


def test_build_and_list():
    rng, magics = random.Random(31), {"current": None, "legacy": b"pelmar arc20"}  # what build writes
    for layout, count in (("current", 0), ("current", 32), ("legacy", 3), ("legacy", 32)):
        names = [f"{i}データ.arc" if i % 3 else f"file{i:02}.Dat" for i in range(count)][:-1] + ["x" * 95] * (count > 0)
        names[-1:] = [name[:LAYOUTS[layout][1] - 1] for name in names[-1:]]  # the last fills its field
        entries = [(name, rng.randbytes(MIB + 3 if i == 1 and count > 3 else i)) for i, name in enumerate(names)]
        write_folder(".", {"stub": b"MZ" * count} | {f"e{i}": data for i, (_, data) in enumerate(entries)})
        run("build", "--stub", "stub", "--out", "out.exe", *["--legacy"] * (layout == "legacy"),
            *(f"{name}=e{i}" for i, (name, _) in enumerate(entries)))
        written = patch(entries, b"MZ" * count, layout=layout, magic=magics[layout])
        assert Path("out.exe").read_bytes() == written and run_json("list", "out.exe")["count"] == count, (layout, count)
    for layout, magic in (("current", None), ("legacy", b"pelmar arc20"), ("legacy", bytes(12))):
        entries = [(b"a.arc\0garbage", b"data"), ("表\\能.arc", b""), (b"n" * LAYOUTS[layout][1], b"xyz")]
        positions = [(4000, 9), (0, 0), (0xFFFFFFFF, 2)]  # past the end, empty, wrapping round
        write_folder(".", {"listed.exe": patch(entries, b"MZ", layout=layout, magic=magic, positions=positions)})
        base = PAYLOAD_OFFSET + 16 + 3 * LAYOUTS[layout][0]
        assert run_json("list", "listed.exe") == {"layout": layout, "count": 3, "dataBase": base, "entries": [
            {"name": stored(n).decode("cp932"), "nameHex": stored(n).hex(), "offset": offset, "size": size,
             "position": (base + offset) & 0xFFFFFFFF} for (n, _), (offset, size) in zip(entries, positions)]}, layout
        assert "表\\能.arc" in run("list", "listed.exe")[0].decode(), "the text listing"


def test_build_from_folder():  # the players' uninstall lists are merged, never replaced, unless one is named
    files = {"voice.arc": b"v" * 3000, "データ.arc": random.Random(11).randbytes(MIB + 5), "TLX.exe": b"", "bgm.arc": b"b"}
    lists = {"game/uninst.lst": b"x.arc\r\n", "whole/UNINST.LST": b"y.arc\r\n", "two/uninst.lst": b""}
    write_folder(".", {f"game/{n}": d for n, d in files.items()} | {f"whole/{n}": d for n, d in files.items()} | {
        "whole/movie.arc": b"movie", "stub": b"MZ", "order.txt": b"bgm.arc\r\n\nvoice.arc\n", "given.hvl": b"QTS_____",
        "one/a.arc": b"1", "one/b.arc": b"2", "two/a.arc": b"1", "two/b.arc": b"3"} | lists)
    every, left_out = files | {"movie.arc": b"movie"}, "left out   uninst.lst  (every player's own list is kept"
    for options, names, listed in (([], sorted(files, key=str.encode), files),
                                   (["--order", "order.txt", "--hvl-from", "whole"], ["bgm.arc", "voice.arc"], every)):
        out = run("build", "--stub", "stub", "--out", "setup.exe", "--from", "game", *options)[0].decode()
        hvl = version_list([(n, check_value(every[n])) for n in sorted(listed, key=str.encode)])
        assert Path("setup.exe").read_bytes() == patch([(n, files[n]) for n in names] + [("TLX.hvl", hvl)]), options
        assert out.startswith(left_out) == (not options), (options, out)
    out, err = run("build", "--stub", "stub", "--out", "setup.exe", "--from", "game", "--hvl", "given.hvl", "bgm.arc",
                   "uninst.lst")
    assert Path("setup.exe").read_bytes() == patch([("bgm.arc", b"b"), ("uninst.lst", lists["game/uninst.lst"]),
                                                    ("TLX.hvl", b"QTS_____")]), "--hvl FILE"
    assert "warning: uninst.lst is packed: it replaces every player's uninstall list" in err and left_out not in out.decode()
    assert run("build", "--stub", "stub", "--base", "one", "--from", "two", "--dry-run")[0].decode().splitlines() == [
        "changed    b.arc", "unchanged  1 file", left_out + " and the installed names merged into it; name it to replace "
        "theirs)", "version list: made for NEW's 2 files (NEW has no TLX.hvl)",
        f"would write the patch: 2 entries, current layout, {PAYLOAD_OFFSET + 16 + 2 * 128 + 1 + 16 + 2 * 256} bytes "
        "(--dry-run: nothing written)"]


def test_hvl():
    files = {"Data1.arc": b"", "sub/データ.arc": b"12345", "sub/深い/ＡＢＣ.bin": random.Random(41).randbytes(MIB + 7)}
    for version, longest in (("v2", 247), ("v1", 55)):
        made = files | {"x" * (longest - 4) + ".bin": b"limit"}  # a name that fills its field
        write_folder(version, made)
        run("hvl", "make", "--out", "made.hvl", "--root", version, *["--v1"] * (version == "v1"), *made)
        assert read_version_list(Path("made.hvl").read_bytes()) == (
            version, 0, [(n.replace("/", "\\").encode("cp932"), check_value(d)) for n, d in made.items()]), version
        records = [("a.arc", b"12345678"), ("表\\能.arc", b"\xff" * 8), ("n" * (longest + 1), b"87654321"),
                   (b"sub\\x.arc\0junk", bytes(8)), ("", b"\1" * 8)]
        write_folder(".", {"shown.hvl": version_list(records, version, word=0xDEADBEEF, tail=b"tail")})
        assert run_json("hvl", "show", "shown.hvl") == {
            "version": int(version[1]), "headerWord": 0xDEADBEEF, "count": 5, "trailingBytes": 4, "records": [
                {"name": stored(n).decode("cp932"), "nameHex": stored(n).hex(), "checkValue": v.hex()} for n, v in records]}
        text = run("hvl", "show", "shown.hvl")[0].decode()
        assert "3735928559 (0xDEADBEEF)" in text and "ffffffffffffffff  表\\能.arc" in text, text


def test_verify():
    big, value = random.Random(43).randbytes(2 * MIB + 1), check_value(b"abc")
    entries = [("data.arc", b"abc"), ("x.arc", b"abc"), ("表.arc", b""), ("dup.arc", big), ("ＡＢ.arc", b"abc"),
               ("new.arc", b"abc")]
    records = [(b"sub\\Data.ARC\0junk", value), ("D:x.arc", value), ("表.arc", check_value(b"")), ("first\\DUP.arc", bytes(8)),
               ("dup.arc", check_value(big)), ("ａｂ.arc", value)]
    targets = ["sub\\Data.ARC", "D:x.arc", "表.arc", "first\\DUP.arc", "ａｂ.arc", "new.arc"]
    statuses = ["ok", "ok", "ok", "mismatch", "ok", "unverified"]
    unlisted = ([name for name, _ in entries], ["unverified"] * 6)
    cases = [  # the version list entry, the target and status of each entry, the exit status
        (("TLX.hvl", version_list(records)), (targets, statuses), 1),
        (("tlx.HVL", version_list(records[:3] + records[4:], "v1")),
         (targets[:3] + ["dup.arc"] + targets[4:], ["ok"] * 5 + ["unverified"]), 0),
        (("TLX.hvl", b"QTS_V3__" + bytes(8)), unlisted, 0),
        (("sys\\tlx.hvl", version_list(records)), unlisted, 0)]
    for listed, (targets, statuses), status in cases:
        write_folder(".", {"v.exe": patch(entries + [listed])})
        report = run_json("verify", "v.exe", status=status)["entries"]
        got = [(e["name"], e["target"], e["status"], e["actual"]) for e in report]
        assert got[:6] == [(n, t, s, check_value(d).hex()) for (n, d), t, s in zip(entries, targets, statuses)], got
    write_folder(".", {"v.exe": patch(entries + [cases[0][0]])})
    assert "MISMATCH    dup.arc -> first\\DUP.arc" in run("verify", "v.exe", status=1)[0].decode(), "the text report"
    write_folder(".", {"v.exe": patch([("a.arc", b"abc"), ("gone.arc", b"")], positions=[(0, 3), (9, 10)])})
    assert run_json("verify", "v.exe", status=1)["entries"][1]["status"] == "unreadable"


def test_names():  # trail bytes 0x5C (ソ, 表, 能) and 0x7C (ポ): code page 932's names whatever the system's code page
    value, entries = check_value(b"s"), [("ソ.arc", b"s"), ("ポ.arc", b"s"), ("能.arc", b"s"), ("表", b"s")]
    records = [("ソ\\ソ.arc", value), ("ポ.arc", value), ("表\\能.arc", value), ("表", value)]
    write_folder(".", {"v.exe": patch(entries + [("TLX.hvl", version_list(records))]), "stub": b"MZ", "e": b"e",
                       "old/a/x": b"", "old/ソ/x": b"", "new/a/表.arc": b"1", "new/ソ/能.arc": b"2", "new/ポ.arc": b"3",
                       "twins/a/ソ.arc": b"1", "twins/ソ/ソ.arc": b"2"})
    assert [e["name"] for e in run_json("list", "v.exe")["entries"]] == [n for n, _ in entries] + ["TLX.hvl"]
    assert [(e["target"], e["status"]) for e in run_json("verify", "v.exe")["entries"]] == [
        (n, "ok") for n, _ in records] + [("TLX.hvl", "unverified")]
    build = ["build", "--stub", "stub", "--out", "out.exe"]
    for arguments, status, expected in ((["ポ.arc=e", "表\\能.arc=e"], 0, ["ポ.arc", "表\\能.arc"]),
                                        (["--base", "old", "--from", "new"], 0, ["表.arc", "能.arc", "ポ.arc", "TLX.hvl"]),
                                        (["ポ.arc=e", "ポ.ARC=e"], 1, "'ポ.ARC': an entry given twice"),
                                        (["--base", "old", "--from", "twins"], 1, "two files carried under one name (ソ.arc")):
        err = run(*build, *arguments, status=status)[1]
        names = [e["name"] for e in run_json("list", "out.exe")["entries"]] if status == 0 else None
        assert expected in err if status else names == expected, (arguments, err, names)


def test_refusals():  # natively and as the Windows build, where Wine shows a Unix link as what it leads to
    native = len(TOOL) == 1
    write_folder(".", {"stub": b"MZ", "secret.txt": b"API_KEY=1", "outdir/x.arc": b"1", "long-stub": bytes(PAYLOAD_OFFSET + 1), "e": b"x", "out.exe": b"previous",
                       "many.exe": patch([], layout="legacy", count=33), "short.exe": bytes(PAYLOAD_OFFSET - 1), "euro€": b"",
                       "v3.hvl": b"QTS_V3__" + bytes(8),
                       "short.hvl": version_list([("a", bytes(8)), ("b", bytes(8))])[:-1], "half.hvl": b"QTS_V2__",
                       "huge.hvl": version_list([], count=1 << 24), "listed/a.arc": b"", "listed/TLX.hvl": b"",
                       "r/old/a/x.arc": b"1", "r/old/b/x.arc": b"1", "r/twins/a/x.arc": b"2", "r/twins/b/x.arc": b"2",
                       "r/deeper/a/x.arc": b"1", "r/deeper/c/y.arc": b"", "r/lists/TLX.hvl": b"", "r/lists/uninst.lst": b"",
                       "r/same/a/x.arc": b"1", "r/same/b/x.arc": b"1", "r/same/TLX.hvl": b"other", "r/newb/b/z.arc": b"z",
                       "r/stage-old/x.arc": b"1", "r/stage-old/X.ARC.TMP": b"t", "r/stage-old/tlx.hvl.prune~": b"p",
                       "r/stage/x.arc": b"2", "r/stage/X.ARC.TMP": b"t", "r/prune/x.arc": b"2", "r/prune/tlx.hvl.prune~": b"p",
                       "hvl/new/x.arc": b"new", "hvl/new/z.arc": b"z", "hvl/whole/x.arc": b"old", "hvl/whole/y.arc": b"y"}
                 | {f"r/{case}/a.arc": b"a" for case in ("dangling", "loop", "socket", "latin1", "cycle", "key", "keys", "chain")}
                 | {f"full/f{i:02}": b"" for i in range(32)})
    os.symlink("out.exe", "link.exe")
    os.symlink("nowhere", "r/dangling/b.arc")
    os.symlink("b.arc", "r/loop/b.arc")
    os.symlink(".", "r/cycle/up")
    os.symlink("../../secret.txt", "r/key/config.txt")  # links that lead outside their release folder
    os.symlink(os.path.abspath("outdir"), "r/keys/b")
    os.symlink("secret.txt", "hop.txt")
    os.symlink("../../hop.txt", "r/chain/config.txt")
    if native:  # Wine shows none of these for what they are
        socket.socket(socket.AF_UNIX).bind("r/socket/b.arc")
        open(b"r/latin1/caf\xe9.arc", "wb").close()
    build, make = ["build", "--stub", "stub", "--out", "out.exe"], ["hvl", "make", "--out", "out.exe", "--root", "."]
    release = build + ["--base", "r/old", "--from"]
    cases = [  # arguments, exit status, part of the message
        (build + [f"n{i}=e" for i in range(33)], 1, "33"), (build + ["--from", "full"], 1, "33 entries with the version"),
        (build + ["a" * 96 + "=e"], 1, "95"), (build + ["--legacy", "a" * 16 + "=e"], 1, "15"),
        (build + ["あ" * 48 + "=e"], 1, "96 bytes"), (build + ["euro€=e"], 1, "code page 932"),
        (build + ["=e"], 1, "empty name"), (build + ["..\\evil.arc=e"], 1, "outside the game folder"),
        (build + ["TLX.hvl=e", "tlx.HVL=e"], 1, "twice"), (build + ["sub/a=e", "SUB\\A=e"], 1, "twice"),
        *((build + [f"{name}=e"], 1, "under another name") for name in ("a.", "a ", "Com1.arc", "a:b", "a|b", "a\x01")),
        (build + ["--from", "listed", "--hvl", "e"], 1, "a version list given twice"),
        (build + ["--from", "full", "--hvl", "e", "--hvl-from", "full"], 2, "not both"),
        (build + ["--order", "e"], 2, "go with --from"), (build + ["--follow-links-outside", "e"], 2, "go with --from"), (build + ["absent.arc"], 1, "absent.arc"),
        *[(build + ["a=full"], 1, "not a regular file")] * native, (build + ["--bogus"], 2, "--bogus"),
        (["build", "--stub", "stub", "e"], 2, "--out"),
        (["build", "--stub", "long-stub", "--out", "out.exe", "e"], 1, "0x60000"),
        *[(["build", "--stub", "stub", "--out", "link.exe", "e"], 1, "not a regular file")] * native,
        (["build", "--stub", "stub", "--out", "no/such.exe", "e"], 1, "does not exist"),
        (["build", "--stub", "nostub", "--out", "out.exe"], 1, "nostub"),
        (make + ["b" * 248], 1, "247"), (make + ["--v1", "c" * 56], 1, "55"), (make + ["euro€"], 1, "code page 932"),
        *[(make + [os.path.abspath("e")], 1, "not relative")] * native, (make + ["full/../e"], 1, ".."),
        (make + ["e", "E"], 1, "twice"), (make + ["."], 1, "names no file"), (make + ["--json", "e"], 2, "--json"),
        (build + ["--base", "r/old", "--from", "r/twins"], 1, "two files carried under one name (x.arc"),
        (build + ["--base", "r/old", "--from", "r/deeper"], 1, "creates no folders"),
        (build + ["--base", "listed", "--from", "full"], 1, "more entries than a patch holds (32)"), (build + ["--base", "full"], 2, "--from"),
        (release + ["r/lists"], 1, "r/lists: no file but TLX.hvl and uninst.lst"),
        (build + ["--from", "r/lists"], 1, "r/lists: no file but"), (release + ["r/same"], 1, "no patch is needed"),
        *[(release + ["r/dangling"], 1, "r/dangling/b.arc: a link that leads nowhere"),
          (release + ["r/loop"], 1, "r/loop/b.arc: a link in a loop"),
          (release + ["r/socket"], 1, "r/socket/b.arc: neither a file nor a folder"),
          (release + ["r/latin1"], 1, "not UTF-8"), (build + ["--from", "r/dangling"], 1, "leads nowhere")] * native,
        (release + ["r/cycle"], 1, "r/cycle/up: a link back"),
        (release + ["r/key"], 1, "r/key/config.txt: a link that leads outside its release folder (to "),
        (release + ["r/keys", "--dry-run"], 1, "r/keys/b: a link that leads outside its release folder (to "),
        (release + ["r/chain"], 1, "secret.txt; --follow-links-outside takes it)"), (build + ["--from", "r/key"], 1, "r/key/config"),
        (build + ["--base", "r/key", "--from", "r/newb"], 1, "r/key/config.txt: a link that leads outside"),
        (build + ["--base", "r/deeper", "--from", "r/newb"], 1, "its folder is not in OLD"),
        (build + ["--base", "r/old", "--base", "r/deeper", "--from", "r/newb"], 1, "its folder is not in r/deeper,"),
        (build + ["--base", "r/old", "--base", "r/./old/", "--from", "r/newb"], 1, "r/./old/: a base given twice (the folder of --base r/old)"),
        (build + ["--base", "r/old", "--base", "r/newb/../newb", "--from", "r/newb"], 1, "the new release given as a base"),
        (release + ["e"], 1, "--from e: not a folder"), (build + ["--base", "e", "--from", "r/newb"], 1, "not a folder"),
        (["build", "--stub", "long-stub", "--out", "out.exe", "--base", "r/deeper", "--from", "r/newb"], 1, "0x60000"),
        (["build", "--stub", "stub", "--out", "no/such.exe", "--base", "r/deeper", "--from", "r/newb"], 1, "not exist"),
        (build + ["--base", "listed", "--from", "full", "--order", "e"], 2, "--base chooses"),
        # a file of NEW, packed or not, at a name the updater writes for itself: it would vanish from every install
        (build + ["--base", "r/stage-old", "--from", "r/stage"], 1, "X.ARC.TMP: a name the updater writes for itself (the staging file of x.arc,"),
        (build + ["--base", "r/stage-old", "--from", "r/prune"], 1, "prune~: a name the updater writes for itself (the "
                                                                    "temporary file the updater writes for TLX.hvl)"),
        (build + ["--from", "r/stage", "x.arc"], 1, "r/stage/X.ARC.TMP: a name the updater writes for itself"),
        (build + ["a.arc=e", "A.arc.TMP=e"], 1, "A.arc.TMP: a name the updater writes for itself (the staging file of a.arc"),
        # --hvl-from DIR: the version list the patch carries must hold the packed bytes
        (build + ["--from", "hvl/new", "x.arc", "--hvl-from", "hvl/whole"], 1, "hvl/new/x.arc: other bytes than its record in "
                                                                             "--hvl-from DIR (hvl/whole's record holds 0f565c"),
        (build + ["--from", "hvl/new", "z.arc", "--hvl-from", "hvl/whole"], 1, "hvl/new/z.arc: no record in --hvl-from DIR"),
        (build + ["UNINST.LST.NEW=e"], 1, "UNINST.LST.NEW: a name the updater writes for itself"),
        (["check"], 2, "--folder"), (["check", "--folder", "full"], 1, "TLX.hvl"),
        (["hvl", "show", "short.hvl"], 1, "counts 2 records"), (["hvl", "show", "v3.hvl"], 1, "magic"),
        (["hvl", "show", "half.hvl"], 1, "16-byte header"), (["hvl", "show", "huge.hvl"], 1, "counts 16777216"),
        (["hvl", "show", "--v1", "v3.hvl"], 2, "--v1"), (["hvl"], 2, "make"), (["hvl", "frobnicate"], 2, "frobnicate"),
        (["list", "many.exe", "--json"], 1, "TooManyEntries (0x80000002)"),
        (["verify", "many.exe"], 1, "TooManyEntries (0x80000002)"),
        (["list", "short.exe"], 1, "PayloadDamaged (0x80000001)"),
        (["verify", "missing.exe"], 1, "missing.exe"),
        (["checkvalue", "full"], 1, "full"), (["apply", "many.exe"], 2, "--folder"),
        (["apply", "many.exe", "--folder", "nowhere"], 1, "not a folder"),
        (["apply", "missing.exe", "--folder", "."], 1, "missing.exe"), ([], 2, "no command"),
        (["frobnicate"], 2, "frobnicate"), (["help", "frobnicate"], 2, "frobnicate"), (["list"], 2, "one PATCH"),
        (["verify", "a", "b"], 2, "one PATCH"), (["list", "--json=yes", "a"], 2, "no value")]
    before = folder_state(".")
    for arguments, status, fragment in cases:
        out, err = run(*arguments, status=status)
        assert out == b"" and err.startswith("patchtool: ") and err.count("\n") == 1 and fragment in err, (arguments, err)
        assert not difference(folder_state("."), before), (arguments, difference(folder_state("."), before))
    # Links that stay inside their release are followed, even by way of one outside; those that lead outside,
    # only with --follow-links-outside, each listed with where it came from.
    write_folder(".", {"in-old/d/x.arc": b"1", "in-old/e/x.arc": b"2", "in/d/x.arc": b"2"})
    for target, link in (("d", "in/e"), ("d/x.arc", "in/f.arc"), (os.path.abspath("in/d/x.arc"), "hop-in"),
                         ("../hop-in", "in/g.arc"), ("../secret.txt", "in/k.txt")):
        os.symlink(target, link)
    secret = os.path.abspath("secret.txt") if native else "Z:" + os.path.abspath("secret.txt").replace("/", "\\")
    out, err = run(*build, "--base", "in-old", "--from", "in", "--follow-links-outside")
    assert out.decode().splitlines()[:-1] == [
        "changed    d/x.arc", "new        f.arc", "new        g.arc", f"new        k.txt  (from {secret})",
        "unchanged  1 file", "version list: made for NEW's 5 files (NEW has no TLX.hvl)"] and err == (
        "patchtool: build: warning: 1 file was read through a link from outside its release folder "
        "(--follow-links-outside)\n"), (out, err)
    assert [e["name"] for e in run_json("list", "out.exe")["entries"]] == ["x.arc", "f.arc", "g.arc", "k.txt", "TLX.hvl"]
    for arguments in (["-h"], ["help"], ["help", "build"], ["list", "-h"], ["hvl", "make", "-h"], ["verify", "--help"],
                      ["checkvalue", "--help"], ["apply", "--help"], ["check", "--help"]):
        assert run(*arguments)[0].startswith(b"Usage: patchtool"), arguments
    run(*build, "a" * 95 + "=e", "あ" * 47 + "b=e")
    assert [e["name"] for e in run_json("list", "out.exe")["entries"]] == ["a" * 95, "あ" * 47 + "b"], "field limits"


def test_manual():  # every step a run reports and every reason build refuses for, read from the sources
    page = subprocess.run(["groff", "-man", "-Tascii", "-P-cbou", "-rLL=300n", "-rHY=0",
                           ROOT / "tools/patchtool/patchtool.1.in"], capture_output=True, text=True, check=True).stdout
    table = (ROOT / "engine/update_run.h").read_text().split("runStepTexts[] = {")[1].split("};")[0]
    steps = re.findall(r'\{"(\w+)", "', table)
    header = (ROOT / "tools/patchtool/build/refusals.h").read_text()
    reasons = ["".join(re.findall(r'"([^"]*)"', value)) for value in re.findall(r"constexpr char \w+\[\] = (.*?);", header, re.S)]
    section = {name: text for name, text in re.findall(r"^([A-Z][A-Z ]+)\n(.*?)(?=^\S)", page, re.S | re.M)}
    readme, refusals = (ROOT / "README.md").read_text(), " ".join(section["REFUSALS"].split())
    missing = [step for step in steps if not re.search(rf"^ {{7}}{step}\b", section["STEPS"], re.M)] + [
        f"README: {step}" for step in steps if f"| `{step}` |" not in readme] + [r for r in reasons if r not in refusals]
    assert len(steps) >= 13 and len(reasons) >= 30 and not missing, missing


def apply_patch():  # returns the folder an uninterrupted run leaves
    a, big = random.Random(7).randbytes(5000), random.Random(8).randbytes(MIB + 3)
    records = [("a.arc", check_value(a)), ("kept.arc", bytes(8)), ("Big.ARC", check_value(big)), ("missing.arc", bytes(8))]
    write_folder(".", {"game/a.arc": b"old a", "game/kept.arc": b"kept", "game/uninst.lst": b"Kept.arc\r\n$Dir\r\n",
                       "setup.exe": patch([("a.arc", a), ("b.arc", b"b"), ("big.arc", big), ("TLX.hvl", version_list(records))])})
    return {"a.arc": a, "b.arc": b"b", "Big.ARC": big, "kept.arc": b"kept", "TLX.hvl": version_list(records[:3]),
            "uninst.lst": b"kept.arc\na.arc\nb.arc\nbig.arc\ntlx.hvl\n$dir\n\0"}


def test_apply_installs_a_patch():
    expected = apply_patch()
    report = run_json("apply", "setup.exe", "--folder", "game/")
    assert report == {"result": "Ok", "code": "0x00000000", "installed": ["a.arc", "b.arc", "Big.ARC", "TLX.hvl"],
                      "failure": None}, report
    assert not difference(folder_state("game"), expected), difference(folder_state("game"), expected)


def test_apply_refuses_a_damaged_patch():
    apply_patch()
    with open("setup.exe", "r+b") as file:  # the first byte of a.arc
        file.seek(PAYLOAD_OFFSET + 16 + 4 * 128)
        file.write(b"!")
    before = folder_state("game")
    assert run("apply", "setup.exe", "--folder", "game", status=1)[0] == \
        b"PayloadDamaged (0x80000001): a.arc: verify: the copy differs from its version record\n"
    assert not difference(folder_state("game"), before), difference(folder_state("game"), before)
    os.remove("game/uninst.lst")  # without a version list an entry is installed unverified; without uninst.lst, not merged
    write_folder(".", {"setup.exe": patch([("a.arc", b"new a")])})
    failed = run_json("apply", "setup.exe", "--folder", "game", status=1)
    assert failed | {"failure": failed["failure"] | {"systemError": 0, "reason": ""}} == {
        "result": "UninstallListFailed", "code": "0x80000005", "installed": ["a.arc"],
        "failure": {"name": "uninst.lst", "step": "merge", "systemError": 0, "reason": ""}}, failed
    assert folder_state("game") == {"a.arc": b"new a", "kept.arc": b"kept"}


def test_apply_planted_names():  # what someone else put at the names the run writes is never written through
    native, unpruned = len(TOOL) == 1, version_list([("a.arc", check_value(random.Random(7).randbytes(5000))),
                                                    ("kept.arc", bytes(8)), ("Big.ARC", check_value(
                                                        random.Random(8).randbytes(MIB + 3))), ("missing.arc", bytes(8))])

    def link(name, target="ro.bin"):  # in the place of what stands there
        return lambda: subprocess.run(["ln", "-sfn", os.path.abspath(target), f"game/{name}"], check=True)

    def hard(name, target="rw.bin"):
        return lambda: subprocess.run(["ln", "-f", target, f"game/{name}"], check=True)

    def subfolder():  # a patch into game/sub, a link to a folder outside
        os.mkdir("out")
        os.symlink(os.path.abspath("out"), "game/sub")
        write_folder(".", {"setup.exe": patch([("x.arc", b"x"), ("TLX.hvl", version_list([("sub\\x.arc", check_value(b"x"))]))])})

    same, failed = "as without it", "FileWriteFailed (0x80000004): "
    merge, stale = "UninstallListFailed (0x80000005): ", "Ok, TLX.hvl unpruned"
    # what is planted, and the outcome natively and under Wine, where a Unix symbolic link shows as the file
    # behind it and so can be neither looked at as a link nor removed as one: the step fails instead
    cases = [("a link to a read-only file at a staging name", link("a.arc.tmp"), same, failed + "a.arc: remove: "),
             ("a hard link at a staging name", hard("b.arc.tmp"), same, same),
             ("a read-only hard link at a staging name", hard("a.arc.tmp", "ro.bin"), same, failed + "a.arc: remove: "),
             ("a link at the merge's temporary file", link("uninst.lst.new"), same, merge + "uninst.lst.new: remove: "),
             ("a hard link at the merge's temporary file", hard("uninst.lst.new"), same, same),
             ("a link at the pruning's temporary file", link("TLX.hvl.prune~"), same, stale),
             ("a hard link at the pruning's temporary file", hard("TLX.hvl.prune~"), same, same),
             ("a link to a read-only file at a target", link("a.arc"), same, same),
             ("a hard link at a target", hard("b.arc"), same, same),
             ("a read-only hard link at a target", hard("a.arc", "ro.bin"), failed + "a.arc: move: ", None),
             ("a subfolder that leads out", subfolder, failed + "sub\\x.arc: outside: ", None),
             ("uninst.lst a link", link("uninst.lst", "rw.bin"), merge + "uninst.lst: merge: ", None),
             ("uninst.lst a hard link", hard("uninst.lst"), merge + "uninst.lst: merge: ", None),
             ("a folder at a later target", lambda: os.mkdir("game/Big.ARC"), failed + "Big.ARC: move: ", None),
             ("a folder at the merge's temporary file", lambda: os.mkdir("game/uninst.lst.new"), merge + "uninst.lst.new: open: ",
              None)]
    for what, plant, outcome, wine_outcome in cases:
        subprocess.run(["rm", "-rf", "game", "out", "ro.bin"], check=True)
        expected = apply_patch()
        write_folder(".", {"ro.bin": b"read-only outside", "rw.bin": b"writable outside"})
        os.chmod("ro.bin", 0o444)
        plant()
        outcome = outcome if native or wine_outcome is None else wine_outcome
        before, outside = folder_state("game"), {n: (Path(n).read_bytes(), os.stat(n).st_mode) for n in ("ro.bin", "rw.bin")}
        out, err = run("apply", "setup.exe", "--folder", "game", status=0 if outcome in (same, stale) else 1)
        if outcome == same:
            assert out == b"Ok (0x00000000)\n" and not difference(folder_state("game"), expected), (what, out, err)
            assert not [p for p in Path("game").rglob("*") if p.is_symlink() or p.stat().st_nlink > 1], what
        elif outcome == stale:
            assert out == b"Ok (0x00000000)\n" and "TLX.hvl.prune~: remove: " in err, (what, err)
            assert not difference(folder_state("game"), expected | {"TLX.hvl": unpruned, "TLX.hvl.prune~": b"read-only outside"})
        else:  # the folder as before, or after a failed merge installed with uninst.lst as it was
            lists = {n: d for n, d in before.items() if n.startswith("uninst.lst")}
            left = expected | lists if outcome.startswith(merge) else before
            assert out.decode().startswith(outcome) and not difference(folder_state("game"), left), (what, out)
        assert outside == {n: (Path(n).read_bytes(), os.stat(n).st_mode) for n in outside}, what
        assert not os.path.exists("out") or not os.listdir("out"), what


def test_apply_release_patch():  # a patch of what changed between two releases, built, applied, checked
    big, native = random.Random(5).randbytes(MIB + 3), len(TOOL) == 1
    old = {"data1.arc": b"1", "maps/town.arc": b"same", "voice/town.arc": b"v1", "voice/a.ogg": b"a", "gone.dat": b"",
           "extra": None}  # an empty folder is a folder the updater finds
    new = {n: d for n, d in old.items() if n not in ("gone.dat", "extra")} | {
        "data1.arc": big, "voice/town.arc": b"v2", "voice/new.ogg": b"n", "extra/e.dat": b"e", "uninst.lst": b"new\r\n"}
    write_folder(".", {f"old/{n}": d for n, d in old.items()} | {f"new/{n}": d for n, d in new.items()} | {"stub": b"MZ"})
    build = ["build", "--base", "old", "--from", "new", "--stub", "stub"]
    swaps = [(build, "", "new/voice/town.arc", "changed while the patch was being built (its check value "),
             (build, "1", "new/voice/town.arc", "changed while the patch was being built (its size "),
             (["build", *build[3:]], "", "new/data1.arc", "a link that leads outside its release folder (to ")]  # --from only
    for arguments, grows, path, what in swaps * native:  # rewritten, or swapped for a link, after it was read
        preload = {"LD_PRELOAD": os.environ.get("VENNHOLT_REWRITE_PRELOAD", ""), "VENNHOLT_REWRITE_GROWS": grows,
                   "VENNHOLT_REWRITE_AT_OPEN": path, "ASAN_OPTIONS": "verify_asan_link_order=0",
                   "VENNHOLT_REWRITE_TO_LINK": os.path.abspath("outside.arc") if "link" in what else ""}
        write_folder(".", {"outside.arc": bytes(len(big))})  # of the size read before
        err = run(*arguments, "--out", "p.exe", status=1, env={k: v for k, v in preload.items() if v})[1]
        assert f"{path}: {what}" in err, err
        assert sorted(os.listdir(".")) == ["new", "old", "outside.arc", "stub"], os.listdir(".")
        for swapped in (path, "outside.arc"):
            os.remove(swapped)
        write_folder(".", {f"new/{n}": new[n] for n in ("voice/town.arc", "data1.arc")})
    dry = run(*build, "--dry-run")[0].decode().splitlines()
    assert dry[:8] == ["changed    data1.arc", "new        extra/e.dat", "new        voice/new.ogg",
                       "changed    voice/town.arc", "removed    gone.dat  (not in NEW; a patch cannot remove it)",
                       "unchanged  2 files", "left out   uninst.lst  (every player's own list is kept and the installed "
                       "names merged into it; name it to replace theirs)", "version list: made for NEW's 6 files (NEW has "
                       "no TLX.hvl)"], dry
    run(*build, "--out", "p.exe")
    records = [(n.replace("/", "\\"), check_value(new[n])) for n in (
        "data1.arc", "extra/e.dat", "voice/town.arc", "maps/town.arc", "voice/a.ogg", "voice/new.ogg")]  # town: its own first
    hvl = version_list(records)
    assert Path("p.exe").read_bytes() == patch([("data1.arc", big), ("e.dat", b"e"), ("new.ogg", b"n"),
                                                ("town.arc", b"v2"), ("TLX.hvl", hvl)])
    for listed, note in ((records, "NEW's own TLX.hvl"), (sorted(records), "install voice/town.arc under another")):
        write_folder("new", {"TLX.hvl": version_list(listed)})  # carried when it lets each file find its record
        assert note in run(*build, "--dry-run")[0].decode(), note
    # A folder given with a separator after a last character whose final byte code page 932 takes for a
    # lead byte (あ in UTF-8), or whose trail byte is 0x5C (表 in the Windows build's code page 932).
    game = "ゲームあ" if native else "ゲーム表"
    write_folder(game, old | {"uninst.lst": b"Old.lst\r\n"})
    assert run("apply", "p.exe", "--folder", game + "/")[0] == b"Ok (0x00000000)\n"
    expected = new | {"gone.dat": b"", "TLX.hvl": hvl,
                      "uninst.lst": b"old.lst\ndata1.arc\nextra\\e.dat\nvoice\\new.ogg\nvoice\\town.arc\ntlx.hvl\n\0"}
    installed = {n: d for n, d in folder_state(game).items() if d is not None}
    assert not difference(installed, expected), difference(installed, expected)
    write_folder("player", {"uninst.lst": b"DLC.arc\r\n$DLC\r\n"})  # NEW's top files; the player's list is merged
    run("build", "--from", "new", "--stub", "stub", "--out", "f.exe")
    assert run("apply", "f.exe", "--folder", "player")[0] == b"Ok (0x00000000)\n"
    assert Path("player/uninst.lst").read_bytes() == b"dlc.arc\ntlx.hvl\ndata1.arc\n$dlc\n\0"
    write_folder(game, {"data1.arc": b"damaged"})  # the first record
    os.remove(f"{game}/maps/town.arc")
    os.replace(f"{game}/extra/e.dat", f"{game}/e.dat")
    os.mkdir(f"{game}/extra/e.dat")  # a folder in its place
    with open(f"{game}/voice/town.arc") as held:
        if native:  # another program holds it
            fcntl.flock(held, fcntl.LOCK_EX)
        records = run_json("check", "--folder", game + "/", status=1)["records"]
        text = run("check", "--folder", game, status=1)[0].decode()
    statuses = {r["name"]: (r["status"], r["reason"] is not None) for r in records}
    assert statuses == {"data1.arc": ("mismatch", False), "extra\\e.dat": ("unreadable", True),
                        "voice\\town.arc": ("unreadable", True) if native else ("ok", False),
                        "maps\\town.arc": ("missing", False), "voice\\a.ogg": ("ok", False),
                        "voice\\new.ogg": ("ok", False)}, statuses
    assert "\nUNREADABLE  extra\\e.dat  (" in text and "\nMISSING     maps\\town.arc\n" in text, text
    if native:  # a progress line only where standard error is a terminal
        controller, terminal = pty.openpty()
        subprocess.run([*TOOL, "check", "--folder", game], stdout=subprocess.DEVNULL, stderr=terminal, timeout=60)
        assert b"\rpatchtool: check: 6 of 6: voice\\" in os.read(controller, 4096)
    os.mkdir(f"{game}/data1.arc.tmp")  # where the run stages data1.arc
    out = run("apply", "p.exe", "--folder", game, status=1)[0].decode()
    assert out.startswith("FileWriteFailed (0x80000004): data1.arc: open: ") and len(out) > 48, out
    # Two files with one check value are two files: the top bit of byte 0 and of byte 2^22 swapped.
    same = [bytearray(random.Random(6).randbytes(4 * MIB + 1)) for _ in "ab"]
    for copy, (first, second) in zip(same, ((0x80, 0), (0, 0x80))):
        copy[0], copy[4 * MIB] = copy[0] & 0x7F | first, copy[4 * MIB] & 0x7F | second
    write_folder(".", {"same-old/same.arc": bytes(same[0]), "same-new/same.arc": bytes(same[1])})
    values = run("checkvalue", "same-old/same.arc", "same-new/same.arc")[0].split()
    assert values[0] == values[2] and same[0] != same[1], values
    run("build", "--base", "same-old", "--from", "same-new", "--stub", "stub", "--out", "same.exe")
    assert [e["name"] for e in run_json("list", "same.exe")["entries"]] == ["same.arc", "TLX.hvl"]


def test_apply_cumulative_patch():  # one patch from three earlier releases of the sample game to the new one
    subprocess.run([sys.executable, ROOT / "tools" / "make_sample_game.py", ".", "--scale", "0.05"], check=True)
    write_folder(".", {"stub": b"MZ"})
    bases, every = ["release-3", "release-2", "release-1"], "release-3, release-2, release-1"
    build = ["build", *(option for base in bases for option in ("--base", base)), "--from", "game", "--stub", "stub"]
    assert run(*build, "--dry-run")[0].decode().splitlines()[:-1] == [
        *(f"changed    {name}  ({every})" for name in ("TLX.exe", "data1.arc", "data2.arc", "data3.arc")),
        "changed    data4.arc  (release-2, release-1)", f"changed    data5.arc  ({every})",
        "changed    se.arc  (release-3)", "changed    voice/ev01.ogg  (release-3, release-2)", "new        voice/ev02.ogg",
        *(f"removed    notes.txt  (in {base}, not in NEW; a patch cannot remove it)" for base in bases),
        "unchanged  8 files", "version list: made for NEW's 17 files (NEW has no TLX.hvl)"]
    run(*build, "--out", "p.exe")
    new = folder_state("game")
    for base in bases:  # every file of NEW in place on an install of each; what NEW dropped stays
        write_folder(base, {"uninst.lst": b"notes.txt\r\n"})
        assert run("apply", "p.exe", "--folder", base)[0] == b"Ok (0x00000000)\n", base
        installed = folder_state(base)
        assert not [n for n, d in new.items() if installed.get(n) != d] and installed["notes.txt"], base
        assert run("check", "--folder", base)[0].endswith(b"\n17 records: 17 ok, 0 mismatched, 0 missing, 0 unreadable\n")


CASES = {name[len("test_"):]: function for name, function in globals().items() if name.startswith("test_")}

if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[-1] not in CASES:
        sys.exit(print(";".join(CASES)) if sys.argv[1:] == ["--list"] else __doc__)
    TOOL = [*sys.argv[1:-2], os.path.abspath(sys.argv[-2])]
    with tempfile.TemporaryDirectory() as folder:
        os.chdir(folder)
        CASES[sys.argv[-1]]()
