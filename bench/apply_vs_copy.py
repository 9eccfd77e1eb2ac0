#!/usr/bin/python3
"""Times `patchtool apply` of a patch against copying the same bytes and renaming them, with cp and
with dd's plain 1 MiB reads and writes (the transfers apply makes), on warm caches, in one run; and
reports the peak memory of the apply above an idle patchtool.

    bench/apply_vs_copy.py PATCHTOOL [--mib N] [--files N] [--repeat N]

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


def paired_rounds(repeat, apply, copies):
    """Per round, the apply's time and each copy's, taken one right after the other."""
    rounds = []
    for _ in range(repeat):
        rounds.append([timed(apply), *(timed(copy) for copy in copies)])
    return rounds


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

        def apply():
            subprocess.run([options.patchtool, "apply", patch, "--folder", folder], check=True,
                           stdout=subprocess.DEVNULL)

        def copy_and_rename(*command):
            for name, path in zip(files, sources):
                staging = os.path.join(folder, name + ".tmp")
                subprocess.run([*command, path, staging], check=True)
                os.replace(staging, os.path.join(folder, name))

        def cp():
            copy_and_rename("cp")

        def dd():
            copy_and_rename("sh", "-c", 'exec dd if="$0" of="$1" bs=1M status=none')

        copies = {"cp + rename": cp, "dd 1 MiB + rename": dd}
        apply()  # warm the caches
        for copy in copies.values():
            copy()
        rounds = paired_rounds(options.repeat, apply, list(copies.values()))
        idle = peak_rss_kib([options.patchtool, "--help"])
        peak = peak_rss_kib([options.patchtool, "apply", patch, "--folder", folder])
        size = sum(os.path.getsize(path) for path in sources)
        print(f"payload: {size / (1 << 20):.1f} MiB in {len(files)} entries, {options.repeat} paired rounds")
        for index, name in enumerate(["patchtool apply", *copies], start=0):
            seconds = statistics.median(times[index] for times in rounds)
            print(f"{name + ':':22}{seconds * 1000:8.1f} ms median  ({size / seconds / 1e9:.2f} GB/s)")
        for index, name in enumerate(copies, start=1):
            ratio = statistics.median(times[0] / times[index] for times in rounds)
            print(f"ratio apply / {name.split(' + ')[0] + ':':9}{ratio:6.2f}  (median of the rounds' ratios)")
        print(f"peak memory: idle {idle} KiB, apply {peak} KiB, above idle {peak - idle} KiB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
