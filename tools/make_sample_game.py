#!/usr/bin/python3
"""Writes a sample game for scripts/demo, the same bytes on every run:

    make_sample_game.py OUT_DIR

OUT_DIR/game       the new release: five data archives, TLX.exe and nine files the patch does not
                   carry (fifteen files, about 60 MB); the patch carries the first six
OUT_DIR/release-1  the release before it: older copies of those six, the nine others as they are
OUT_DIR/installed  an older installation: older copies of the carried files, seven of the nine
                   others, an older version list TLX.hvl and the uninstall list uninst.lst
"""
import pathlib
import random
import shutil
import sys

CARRIED = {"data1.arc": 24_000_000, "data2.arc": 16_000_000, "data3.arc": 10_000_000,
           "data4.arc": 6_000_000, "data5.arc": 2_500_000, "TLX.exe": 1_200_000}
OTHERS = {"bgm01.ogg": 40_000, "bgm02.ogg": 36_000, "se.arc": 30_000, "voice.arc": 50_000,
          "font.ttf": 20_000, "config.ini": 300, "readme.txt": 2_000, "manual.htm": 8_000,
          "saveicon.ico": 1_100}
# Two of the others are not installed yet; the version list the patch installs lists them, and the
# updater drops their records because their files are missing.
NOT_INSTALLED = ("bgm02.ogg", "manual.htm")
# What the game's installer wrote: the files it installed, then the folder itself.
UNINSTALL_LIST = "".join(f"{name}\r\n" for name in [*CARRIED, *OTHERS] if name not in NOT_INSTALLED) + "$Dir\r\n"


def main(argv):
    if len(argv) != 2 or argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if argv[1:] in (["-h"], ["--help"]) else 2
    out = pathlib.Path(argv[1])
    game, previous, installed = out / "game", out / "release-1", out / "installed"
    for folder in (game, previous, installed):
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
    rng = random.Random("vennholt-demo-1")
    for name, size in {**CARRIED, **OTHERS}.items():
        content = rng.randbytes(size)
        (game / name).write_bytes(content)
        # The older release has a shorter file with other bytes where the patch carries one.
        older = rng.randbytes(size * 3 // 4) if name in CARRIED else content
        (previous / name).write_bytes(older)
        if name in CARRIED or name not in NOT_INSTALLED:
            (installed / name).write_bytes(older)
    (installed / "TLX.hvl").write_bytes(b"QTS_V2__" + bytes(8))
    (installed / "uninst.lst").write_bytes(UNINSTALL_LIST.encode("ascii"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
