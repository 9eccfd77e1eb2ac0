#!/usr/bin/python3
"""Kills patchtool apply with SIGKILL before each of its file calls in turn, and checks that running
the patch again recovers.

    kill_recovery_test.py PATCHTOOL PRELOAD

PRELOAD is the library built from kill_recovery/kill_at_call.c. The patch has entries of more than
one 1 MiB chunk, one installed into a subfolder through its version record, the version list itself
and a new file. After each kill (every third one followed by a kill of the next run too) the folder
must be one a run can leave: each target holds its old bytes or its new ones, the new ones a prefix
in index order; TLX.hvl is pruned only after every target is new, uninst.lst merged only after
that; any other changed file is a staging file ("<target>.tmp") or the prune's or the merge's
temporary file, holding the start of what is written to it. A run to the end must then leave
exactly what an uninterrupted run leaves.
"""
import itertools
import os
import random
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
INITIAL = {"data1.arc": b"old data1", "data2.arc": b"old data2", "sub/bgm.arc": b"old bgm", "TLX.exe": b"old engine",
           "TLX.hvl": b"old list", "movie.arc": b"movie", "config.ini": b"[game]\n",
           "uninst.lst": b"TLX.exe\r\n$Folder\r\nData1.arc\r\nsave\\slot1.dat\r\n"}


def phase_of(before, files, final):
    """The phase in which a run started on `before` left `files`; raises unless a run can leave it."""
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
    staging = any(name.endswith(".tmp") for name in files)
    return "pruning or merging" if merged or pruned else "commit" if any(new) and not all(old) else \
        "staging" if staging else "start"


def main(patchtool, preload):
    work = tempfile.mkdtemp(prefix="kill-recovery-")
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
    phases = set()
    for call in itertools.count(1):
        subprocess.run(["rm", "-rf", folder], check=True)
        write_folder(folder, INITIAL)
        for kill in range(1 + (call % 3 == 0)):  # the run that recovers is killed too, every third time
            before = folder_state(folder)
            status = apply(call)
            if status != -9:
                break
            phases.add(phase_of(before, folder_state(folder), final))
        if kill == 0 and status != -9:
            break  # the run made fewer than `call` file calls
        assert apply() == 0 and not difference(folder_state(folder), final), \
            f"the run after a kill at call {call}: {difference(folder_state(folder), final)}"
    subprocess.run(["rm", "-rf", work], check=True)
    assert {"staging", "commit", "pruning or merging"} <= phases, f"kills landed only in {phases}"
    print(f"{call - 1} file calls, a kill before each; phases hit: {sorted(phases)}")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]))
