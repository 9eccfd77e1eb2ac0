#!/usr/bin/python3
"""Kills patchtool apply with SIGKILL at many points of a run and proves that a second run recovers.

    kill_recovery_test.py PATCHTOOL PRELOAD [--trials N] [--seed S] [--work DIR]

PATCHTOOL is the native patchtool; PRELOAD is the library built from kill_recovery/slow_file_calls.c,
which counts patchtool's file calls and can slow them down or kill the process at the Nth one.

A multi-entry patch of a few MiB (two entries of more than one chunk, one installed into a
subfolder through its version record, the version list itself, a new file) is applied to a copy
of an install folder. Even trials kill the run right before a file call chosen at random; odd
trials slow every file call down and kill at a random time, so that kills land in every phase.
A quarter of the trials kill a second run too before recovering. After every kill the folder must
be in a state a run can leave:

- every target holds its old bytes or its new ones, and the new ones form a prefix of the
  entries in index order (the commit moves in that order); while none is new (staging), every
  file of the folder is byte for byte as before;
- the installed TLX.hvl is pruned, and uninst.lst merged, only after every target is new;
- the only other files are staging files ("<target>.tmp") and the pruning's and the merge's
  temporary files, each holding a prefix of what it is being written with.

Then patchtool apply runs again to completion, and the folder must be byte for byte the folder
of a run that was never interrupted, with no leftover file. The phases hit are logged.
"""
import argparse
import collections
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from patchtool_test import folder_state

STAGING_SUFFIX = ".tmp"
PRUNE_TEMPORARY = "TLX.hvl.prune~"
MERGE_TEMPORARY = "uninst.lst.new"
PHASES = ("before staging", "staging", "commit", "pruning", "merging", "done")


class Failure(Exception):
    pass


def write_tree(folder, files):
    for name, data in files.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as file:
            file.write(data)


class Scenario:
    """The patch, the install folder before it and the folder after an uninterrupted run."""

    def __init__(self, patchtool, work, seed):
        self.patchtool = patchtool
        self.work = work
        generator = random.Random(seed)
        payload = {  # entry name -> (target, bytes), in index order
            "data1.arc": ("data1.arc", generator.randbytes(1_300_000)),
            "data2.arc": ("data2.arc", generator.randbytes(1_048_577)),
            "bgm.arc": ("sub/bgm.arc", generator.randbytes(300_000)),
            "TLX.hvl": ("TLX.hvl", None),
            "TLX.exe": ("TLX.exe", generator.randbytes(200_000)),
            "new.arc": ("new.arc", b"a file the game did not have\n"),
        }
        source = os.path.join(work, "source")
        for target, data in payload.values():
            if data is not None:
                write_tree(source, {target: data})
        # Records for the carried files, one file the folder keeps and one it lacks (pruned away).
        write_tree(source, {"movie.arc": b"movie", "missing.arc": b"missing"})
        self.run_tool("hvl", "make", "--out", os.path.join(source, "TLX.hvl"), "--root", source,
                      "data1.arc", "data2.arc", "sub/bgm.arc", "TLX.exe", "movie.arc", "missing.arc")
        with open(os.path.join(source, "TLX.hvl"), "rb") as file:
            payload["TLX.hvl"] = ("TLX.hvl", file.read())
        stub = os.path.join(work, "stub.exe")
        with open(stub, "wb") as file:
            file.write(b"MZ" + bytes(4094))
        self.patch = os.path.join(work, "patch.exe")
        entries = [f"{name}={os.path.join(source, target)}" for name, (target, _) in payload.items()]
        self.run_tool("build", "--stub", stub, "--out", self.patch, *entries)

        self.targets = [target for target, _ in payload.values()]
        self.new = {target: data for target, data in payload.values()}
        self.initial = {
            "data1.arc": b"old data1", "data2.arc": b"old data2", "sub/bgm.arc": b"old bgm",
            "TLX.exe": b"old engine", "TLX.hvl": b"old list", "movie.arc": b"movie", "config.ini": b"[game]\n",
            "uninst.lst": b"TLX.exe\r\n$Folder\r\nData1.arc\r\nsave\\slot1.dat\r\n",
        }
        reference = os.path.join(work, "reference")
        self.reset(reference)
        result = self.apply(reference)
        if result.returncode != 0:
            raise Failure(f"the uninterrupted run failed: {result.stdout!r} {result.stderr!r}")
        self.final = folder_state(reference)
        for target in self.targets:
            if target != "TLX.hvl" and self.final[target] != self.new[target]:
                raise Failure(f"the uninterrupted run did not install {target}")
        if self.final["TLX.hvl"] == self.new["TLX.hvl"] or self.final["uninst.lst"] == self.initial["uninst.lst"]:
            raise Failure("the uninterrupted run neither pruned nor merged")

    def run_tool(self, *arguments):
        result = subprocess.run([self.patchtool, *arguments], capture_output=True, timeout=120)
        if result.returncode != 0:
            raise Failure(f"patchtool {arguments[0]} failed: {result.stderr.decode(errors='replace')}")

    def reset(self, folder):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        write_tree(folder, self.initial)

    def apply(self, folder, environment=None):
        return subprocess.run([self.patchtool, "apply", self.patch, "--folder", folder], capture_output=True,
                              env=environment, timeout=120)


def check_killed_state(scenario, before, files):
    """Raises Failure unless `files` is a folder that a run started on `before` can leave when it
    is killed; returns the phase it was in. `before` is the initial folder, or what an earlier
    killed run left, with its half-written files."""
    final, new = scenario.final, scenario.new

    def after_commit(name):  # what a target holds once the commit has moved it
        return {new[name], final[name]} if name == "TLX.hvl" else {new[name]}

    # Each target holds what it held before the run or what the commit moves there, and the
    # moved ones are a prefix in index order.
    can_be_new = [files.get(target) in after_commit(target) for target in scenario.targets]
    can_be_old = [files.get(target) == before.get(target) for target in scenario.targets]
    for target, is_new, is_old in zip(scenario.targets, can_be_new, can_be_old):
        if not (is_new or is_old):
            raise Failure(f"target {target} holds neither its bytes from before the run nor its new ones")
    prefixes = [k for k in range(len(scenario.targets) + 1) if all(can_be_new[:k]) and all(can_be_old[k:])]
    if not prefixes:
        raise Failure(f"targets replaced out of index order: new {can_be_new}, old {can_be_old}")
    complete = len(scenario.targets) in prefixes
    pruned = files.get("TLX.hvl") == final["TLX.hvl"]
    merged = files.get("uninst.lst") == final["uninst.lst"]
    if pruned and not complete:
        raise Failure("TLX.hvl pruned before every target was replaced")
    if not merged and files.get("uninst.lst") != before["uninst.lst"]:
        raise Failure("uninst.lst is neither the list from before the run nor the merged one")
    if merged and files.get("uninst.lst") != before["uninst.lst"] and not pruned:
        raise Failure("uninst.lst merged before TLX.hvl was pruned")

    staging_files = 0
    for name, data in files.items():
        if name in scenario.targets or name == "uninst.lst":
            continue
        if data == before.get(name):
            staging_files += name.endswith(STAGING_SUFFIX)
            continue  # left as it was, a leftover of an earlier run included
        if name.endswith(STAGING_SUFFIX) and name[:-len(STAGING_SUFFIX)] in scenario.targets:
            being_written = new[name[:-len(STAGING_SUFFIX)]]
            staging_files += 1
        elif name == PRUNE_TEMPORARY and complete:
            being_written = final["TLX.hvl"]
        elif name == MERGE_TEMPORARY and pruned:
            being_written = final["uninst.lst"]
        elif name in scenario.initial:
            raise Failure(f"{name}, no target, changed")
        else:
            raise Failure(f"unexpected file {name}")
        if not being_written.startswith(data):
            raise Failure(f"{name} holds bytes that are not a prefix of what is written to it")
    for name in before:
        if name not in files and not name.endswith(STAGING_SUFFIX) and name not in (PRUNE_TEMPORARY, MERGE_TEMPORARY):
            raise Failure(f"{name} disappeared")

    if merged and before["uninst.lst"] != final["uninst.lst"]:
        # This run merged, so it finished everything else before: only leftovers of an earlier run
        # that nothing touched may still differ from the finished folder.
        stray = [name for name in set(files) | set(final)
                 if files.get(name) != final.get(name) and (name in final or files[name] != before.get(name))]
        if stray:
            raise Failure(f"the list is merged, but these files are not finished: {sorted(stray)}")
    if files == final:
        return "done"
    if merged or pruned:
        return "merging"
    if complete and 0 not in prefixes:
        return "pruning"
    if 0 not in prefixes:
        return "commit"
    return "staging" if staging_files > 0 else "before staging"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("patchtool")
    parser.add_argument("preload")
    parser.add_argument("--trials", type=int, default=200)
    parser.add_argument("--seed", type=int, default=12)
    parser.add_argument("--work", help="folder for the scenario (default: a temporary one, removed)")
    arguments = parser.parse_args()

    work = arguments.work or tempfile.mkdtemp(prefix="kill-recovery-")
    os.makedirs(work, exist_ok=True)
    try:
        return run_trials(arguments, work)
    except Failure as failure:
        print(f"FAIL: {failure}")
        print("0 passed, 1 failed")
        return 1
    finally:
        if not arguments.work:
            shutil.rmtree(work, ignore_errors=True)


def run_trials(arguments, work):
    scenario = Scenario(os.path.abspath(arguments.patchtool), work, arguments.seed)
    generator = random.Random(arguments.seed)
    log = os.path.join(work, "calls.log")
    base = dict(os.environ)
    # patchtool is built with AddressSanitizer, whose runtime must otherwise come first. Checking
    # for leaks at exit is not what this test is about, and it would double the time of a run.
    options = "verify_asan_link_order=0:detect_leaks=0"
    base["ASAN_OPTIONS"] = ":".join(filter(None, [base.get("ASAN_OPTIONS"), options]))
    preloaded = dict(base, LD_PRELOAD=os.path.abspath(arguments.preload), VENNHOLT_CALL_LOG=log)

    # How many file calls a whole run makes, and how long it takes when each is slowed down.
    slow_us = 2000
    folder = os.path.join(work, "folder")
    scenario.reset(folder)
    open(log, "w").close()
    started = time.monotonic()
    if scenario.apply(folder, dict(preloaded, VENNHOLT_SLOW_CALL_US=str(slow_us))).returncode != 0:
        raise Failure("the slowed-down run failed")
    slow_duration = time.monotonic() - started
    with open(log) as file:
        total_calls = len(file.readlines())
    if folder_state(folder) != scenario.final:
        raise Failure("the slowed-down run left another folder than the uninterrupted one")
    print(f"scenario: {len(scenario.targets)} entries, {os.path.getsize(scenario.patch)} bytes of patch, "
          f"{total_calls} file calls per run, {slow_duration:.2f} s per run slowed down by {slow_us} us a call")

    phases = collections.Counter()
    last_calls = collections.Counter()
    failures = 0
    for trial in range(arguments.trials):
        scenario.reset(folder)
        kills = 2 if generator.random() < 0.25 else 1
        try:
            for _ in range(kills):
                before = folder_state(folder)
                open(log, "w").close()
                if trial % 2 == 0:
                    environment = dict(preloaded, VENNHOLT_KILL_AT_CALL=str(generator.randint(1, total_calls)))
                    scenario.apply(folder, environment)
                else:
                    process = subprocess.Popen(
                        [scenario.patchtool, "apply", scenario.patch, "--folder", folder],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                        env=dict(preloaded, VENNHOLT_SLOW_CALL_US=str(slow_us)))
                    try:
                        process.wait(timeout=generator.uniform(0, slow_duration * 1.05))
                    except subprocess.TimeoutExpired:
                        process.send_signal(signal.SIGKILL)
                        process.wait()
                with open(log) as file:
                    calls = file.read().split()
                last_calls[calls[-1] if calls else "none"] += 1
                phases[check_killed_state(scenario, before, folder_state(folder))] += 1
            result = scenario.apply(folder, base)
            if result.returncode != 0 or not result.stdout.startswith(b"Ok"):
                raise Failure(f"the run after the kill ended with {result.stdout!r}")
            after = folder_state(folder)
            if after != scenario.final:
                extra = sorted(set(after) - set(scenario.final))
                changed = sorted(name for name in scenario.final if after.get(name) != scenario.final[name])
                raise Failure(f"the run after the kill left another folder: extra {extra}, differing {changed}")
        except Failure as failure:
            failures += 1
            print(f"trial {trial}: FAIL: {failure}")

    print("phases hit:", ", ".join(f"{phase} {phases[phase]}" for phase in PHASES))
    print("last file call before the kill:", ", ".join(f"{name} {count}" for name, count in sorted(last_calls.items())))
    missing = [phase for phase in ("staging", "commit", "pruning", "merging") if phases[phase] == 0]
    if arguments.trials >= 100 and missing:
        print(f"FAIL: no kill landed in: {', '.join(missing)}")
        failures += 1
    print(f"{arguments.trials} trials, {sum(phases.values())} kills")
    print(f"{arguments.trials - min(failures, arguments.trials)} passed, {failures} failed")
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
