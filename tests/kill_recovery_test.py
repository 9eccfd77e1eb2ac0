#!/usr/bin/python3
"""kill_recovery_test.py PATCHTOOL PRELOAD: kills patchtool apply before each of its file calls in turn
(PRELOAD, from kill_recovery/kill_at_call.c, counts them), every third time the recovering run too; each
time the folder must be one a run can leave, and the run after it must leave what an unbroken run leaves."""
import itertools
import os
import random
import shutil
import subprocess
import sys
import tempfile

from patch_formats import check_value, difference, folder_state, patch, version_list, write_folder

rng = random.Random(12)
NEW = {"data1.arc": rng.randbytes(1_300_000), "data2.arc": rng.randbytes(1_048_577), "sub/bgm.arc": rng.randbytes(300_000),
       "TLX.exe": rng.randbytes(200_000), "new.arc": b"a file the game did not have\n"}
NEW["TLX.hvl"] = version_list([(name.replace("/", "\\"), check_value(data)) for name, data in NEW.items()][:4] +
                              [("movie.arc", check_value(b"movie")), ("missing.arc", bytes(8))])
TARGETS = ["data1.arc", "data2.arc", "sub/bgm.arc", "TLX.hvl", "TLX.exe", "new.arc"]  # in index order
PATCH = patch([(target.split("/")[-1], NEW[target]) for target in TARGETS])
INITIAL = {name: b"old" for name in TARGETS if name != "new.arc"} | {"movie.arc": b"movie", "config.ini": b"[game]\n",
                                                                   "uninst.lst": b"TLX.exe\r\n$Folder\r\nData1.arc\r\n"}


def check_killed(before, files, final):
    """Targets old or new, new ones a prefix in index order, then TLX.hvl pruned, uninst.lst merged."""
    new = [files.get(t) in (NEW[t], final[t]) for t in TARGETS]
    old = [files.get(t) == before.get(t) for t in TARGETS]
    assert any(all(new[:k]) and all(old[k:]) for k in range(len(TARGETS) + 1)), f"targets: new {new}, old {old}"
    pruned, merged = files["TLX.hvl"] == final["TLX.hvl"], files["uninst.lst"] == final["uninst.lst"]
    assert all(new) or not pruned, "TLX.hvl pruned before every target was replaced"
    assert merged or files["uninst.lst"] == before["uninst.lst"], "uninst.lst neither as before nor merged"
    assert pruned or not merged or before["uninst.lst"] == final["uninst.lst"], "uninst.lst merged before pruning"
    writing = {f"{t}.tmp": NEW[t] for t in TARGETS}
    writing |= {"TLX.hvl.prune~": final["TLX.hvl"]} if all(new) else {}
    writing |= {"uninst.lst.new": final["uninst.lst"]} if pruned else {}
    for name in set(files) | set(before):
        if name not in TARGETS + ["uninst.lst"] and files.get(name) != before.get(name):
            assert name in writing and writing[name].startswith(files.get(name, b"")), f"{name} changed"


def main(patchtool, preload, work):
    folder, setup = os.path.join(work, "game"), os.path.join(work, "setup.exe")
    write_folder(work, {"setup.exe": PATCH})

    def apply(kill_at=None):
        environment = dict(os.environ, ASAN_OPTIONS="verify_asan_link_order=0:detect_leaks=0", LD_PRELOAD=preload)
        environment |= {"VENNHOLT_KILL_AT_CALL": str(kill_at)} if kill_at else {}
        return subprocess.run([patchtool, "apply", setup, "--folder", folder], capture_output=True, env=environment,
                              timeout=120).returncode

    write_folder(folder, INITIAL)
    assert apply() == 0, "the uninterrupted run failed"
    final = folder_state(folder)
    for call in itertools.count(1):
        shutil.rmtree(folder)
        write_folder(folder, INITIAL)
        for kill in range(1 + (call % 3 == 0)):  # the run that recovers is killed too, every third time
            before = folder_state(folder)
            status = apply(call)
            if status != -9:
                break
            check_killed(before, folder_state(folder), final)
        if kill == 0 and status != -9:
            break  # the run made fewer than `call` file calls
        assert apply() == 0 and not difference(folder_state(folder), final), \
            f"the run after a kill at call {call}: {difference(folder_state(folder), final)}"
    assert call > 40, f"only {call - 1} file calls were counted"
    print(f"{call - 1} file calls, a kill before each")


if __name__ == "__main__":
    with tempfile.TemporaryDirectory() as directory:
        main(*map(os.path.abspath, sys.argv[1:3]), directory) if len(sys.argv) == 3 else sys.exit(__doc__)
