#!/usr/bin/python3
"""Times `patchtool apply` of a patch against copying the same bytes and renaming them, with cp, with
dd's plain 1 MiB reads and writes (the transfers apply makes), and with the durable floor: dd's
1 MiB transfers with an fsync of each file, the renames and a sync of the folder, which is what an
apply that leaves every file on the disk before it replaces anything cannot beat. On warm caches,
in one run; it also reports the peak memory of the apply above an idle patchtool.

    bench/apply_vs_copy.py PATCHTOOL [--mib N] [--files N] [--repeat N] [--compare OTHER_PATCHTOOL]

With --compare, the apply of another build is timed in the same rounds too (an earlier commit, say),
and what the first adds to it per GiB is reported.

PATCHTOOL should be an optimised build without sanitizers (build/native-release). The payload is
N MiB of random data split over a few files, with a version list, in a folder under /tmp.

The disk of a shared machine stalls for seconds at random, so each side alone swings widely from
one run to the next. Each round therefore times the apply right beside each copy, and the ratios
are the medians of the rounds' own ratios.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time


def timed(action):
    # Each run starts with nothing waiting to be written back, so that none pays for another's
    # dirty pages.
    os.sync()
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def paired_rounds(repeat, actions):
    """Per round, each action's time, taken one right after the other."""
    return [[timed(action) for action in actions] for _ in range(repeat)]


MEASURE = """
import resource, subprocess, sys
subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
"""


def peak_rss_kib(command):
    """Peak resident set of the command in KiB, from the kernel's accounting of the children of a
    fresh interpreter that runs nothing else."""
    result = subprocess.run([sys.executable, "-c", MEASURE, *command], check=True, capture_output=True)
    return int(result.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.strip().splitlines()[0])
    parser.add_argument("patchtool")
    parser.add_argument("--mib", type=int, default=64)
    parser.add_argument("--files", type=int, default=4)
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--compare", help="another patchtool whose apply is timed in the same rounds")
    options = parser.parse_args()

    with tempfile.TemporaryDirectory(dir="/tmp") as work:
        source = os.path.join(work, "source")
        os.makedirs(source)
        names = [f"data{i}.arc" for i in range(options.files)]
        per_file = options.mib * (1 << 20) // options.files
        for name in names:
            with open(os.path.join(source, name), "wb") as file:
                file.write(os.urandom(per_file))
        hvl = os.path.join(work, "TLX.hvl")
        subprocess.run([options.patchtool, "hvl", "make", "--out", hvl, "--root", source,
                        *names], check=True, stdout=subprocess.DEVNULL)
        stub = os.path.join(work, "stub.exe")
        with open(stub, "wb") as file:
            file.write(b"MZ")
        patch = os.path.join(work, "setup.exe")
        subprocess.run([options.patchtool, "build", "--stub", stub, "--out", patch,
                        *[f"{name}={os.path.join(source, name)}" for name in names], f"TLX.hvl={hvl}"],
                       check=True, stdout=subprocess.DEVNULL)
        folder = os.path.join(work, "game")
        os.makedirs(folder)
        with open(os.path.join(folder, "uninst.lst"), "wb") as file:
            file.write(b"x\n")
        files = [*names, "TLX.hvl"]
        sources = [os.path.join(source, name) for name in names] + [hvl]

        def applying(patchtool):
            return lambda: subprocess.run([patchtool, "apply", patch, "--folder", folder], check=True,
                                          stdout=subprocess.DEVNULL)

        def copy_and_rename(*command, durable=False):
            for name, path in zip(files, sources):
                staging = os.path.join(folder, name + ".tmp")
                subprocess.run([*command, path, staging], check=True)
                os.replace(staging, os.path.join(folder, name))
            if durable:
                descriptor = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
                os.fsync(descriptor)
                os.close(descriptor)

        dd = ("sh", "-c", 'exec dd if="$0" of="$1" bs=1M status=none')
        actions = {"patchtool apply": applying(options.patchtool),
                   "cp + rename": lambda: copy_and_rename("cp"),
                   "dd + rename": lambda: copy_and_rename(*dd),
                   "durable floor": lambda: copy_and_rename(dd[0], dd[1], dd[2] + " conv=fsync", durable=True)}
        if options.compare:
            actions["the other apply"] = applying(options.compare)
        for action in actions.values():
            action()  # warm the caches
        rounds = paired_rounds(options.repeat, list(actions.values()))
        idle = peak_rss_kib([options.patchtool, "--help"])
        peak = peak_rss_kib([options.patchtool, "apply", patch, "--folder", folder])
        size = sum(os.path.getsize(path) for path in sources)
        print(f"payload: {size / (1 << 20):.1f} MiB in {len(files)} entries, {options.repeat} paired rounds")
        print("durable floor: dd 1 MiB conv=fsync + rename per file, then a sync of the folder")
        for index, name in enumerate(actions):
            seconds = statistics.median(times[index] for times in rounds)
            print(f"{name + ':':22}{seconds * 1000:8.1f} ms median  ({size / seconds / 1e9:.2f} GB/s)")
        for index, name in enumerate(list(actions)[1:], start=1):
            ratio = statistics.median(times[0] / times[index] for times in rounds)
            print(f"ratio apply / {name + ':':18}{ratio:6.2f}  (median of the rounds' ratios)")
        if options.compare:
            added = statistics.median(times[0] - times[-1] for times in rounds) * (1 << 30) / size
            print(f"the apply adds to the other: {added * 1000:.0f} ms per GiB (median of the rounds)")
        print(f"peak memory: idle {idle} KiB, apply {peak} KiB, above idle {peak - idle} KiB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
