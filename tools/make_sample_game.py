#!/usr/bin/python3
"""Writes a sample game for scripts/demo and the release tests, the same bytes on every run:

    make_sample_game.py OUT_DIR [--scale FRACTION]

OUT_DIR/game       the new release, 1.03: five data archives, TLX.exe, nine other files and a folder
                   voice with two more (seventeen files, about 60 MB)
OUT_DIR/release-1  the release before it, 1.02: older copies of the five archives and TLX.exe, no
                   voice/ev02.ogg, which is new, and a notes.txt, which the new release drops
OUT_DIR/release-2  1.01 and OUT_DIR/release-3 1.00, the releases before that (see FILES), for a
                   patch from all three earlier releases to the new one
OUT_DIR/installed  an install of release-1: seven of the nine others, an older version list TLX.hvl
                   and the uninstall list uninst.lst

--scale FRACTION makes every file that fraction of its size (at least one byte), for tests.
"""
import argparse
import pathlib
import random
import shutil
import sys

RELEASES = ("release-3", "release-2", "release-1", "game")  # oldest first
# Each file's size and its bytes in each release, oldest first: the same number, the same bytes; None
# where the release lacks the file.
FILES = {
    "data1.arc": (24_000_000, (0, 1, 2, 3)), "data2.arc": (16_000_000, (0, 1, 2, 3)),
    "data3.arc": (10_000_000, (0, 0, 0, 1)),  # changed only in the new release
    "data4.arc": (6_000_000, (0, 1, 1, 0)),  # back to its first bytes
    "data5.arc": (2_500_000, (0, 1, 1, 2)), "TLX.exe": (1_200_000, (0, 1, 2, 3)),
    "se.arc": (30_000, (0, 1, 1, 1)),  # changed only from the first release to the second
    "voice/ev01.ogg": (30_000, (0, 0, 1, 1)), "voice/ev02.ogg": (25_000, (None, None, None, 0)),
    "notes.txt": (1_500, (0, 0, 0, None)),
} | {name: (size, (0, 0, 0, 0)) for name, size in {
    "bgm01.ogg": 40_000, "bgm02.ogg": 36_000, "voice.arc": 50_000, "font.ttf": 20_000, "config.ini": 300,
    "readme.txt": 2_000, "manual.htm": 8_000, "saveicon.ico": 1_100}.items()}
# Two of the others are not installed yet; the version list the patch installs lists them, and the
# updater drops their records because their files are missing.
NOT_INSTALLED = ("bgm02.ogg", "manual.htm")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.replace(__doc__.split("\n\n")[1] + "\n\n", ""),
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("out", type=pathlib.Path, metavar="OUT_DIR")
    parser.add_argument("--scale", type=float, default=1.0, metavar="FRACTION")
    args = parser.parse_args(argv[1:])
    folders = [args.out / release for release in RELEASES] + [args.out / "installed"]
    for folder in folders:
        shutil.rmtree(folder, ignore_errors=True)
        (folder / "voice").mkdir(parents=True)
    installed = []
    for name, (size, versions) in FILES.items():
        contents = {v: random.Random(f"vennholt-demo-{name}-{v}").randbytes(max(1, int(size * args.scale)))
                    for v in set(versions) - {None}}
        for folder, version in zip(folders, versions):
            if version is not None:
                (folder / name).write_bytes(contents[version])
        if versions[2] is not None and name not in NOT_INSTALLED:
            (folders[-1] / name).write_bytes(contents[versions[2]])
            installed.append(name.replace("/", "\\"))
    (folders[-1] / "TLX.hvl").write_bytes(b"QTS_V2__" + bytes(8))
    # What the game's installer wrote: the files it installed, then the folder itself.
    (folders[-1] / "uninst.lst").write_bytes("".join(f"{name}\r\n" for name in installed + ["$Dir"]).encode("ascii"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
