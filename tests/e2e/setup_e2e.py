#!/usr/bin/python3
"""End-to-end scenarios of setup.exe under Wine, one CTest test each. A scenario writes an install folder
in the prefix's drive C:, the registry value naming it and a patch of setup.exe (patch_formats), and the
driver plays the user, the game or another copy of the updater. Its report must match the scenario's
line by line, the folder afterwards the expected one byte by byte. win32 runs in the emulated i386
chroot, with smaller files and only the scenarios marked for it."""
import argparse
import collections
import os
import pathlib
import random
import shutil
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path[:0] = [str(ROOT / "tests"), str(ROOT / "tests" / "static")]
import check_setup_image as texts  # noqa: E402
import patch_formats as formats  # noqa: E402

ARCHITECTURES = {"win64": ("wine-run", "VENNHOLT_WINEPREFIX"), "win32": ("wine32-run", "VENNHOLT_WINE32PREFIX")}
REGISTRY_KEY = r"HKLM\Software\Halvorn\Vennholt"
# Names other programs share: the game's mutex and that of every release of the updater.
MUTEXES = {"game": "Pelmar General Interpreter for Vennholt is executing.",
           "updater": "Updater for Vennholt is executing."}
STATUSES = {"ok": 0, "damaged": 0x80000001, "too-many": 0x80000002, "write-failed": 0x80000004,
            "uninstall-failed": 0x80000005, "aborted": 0x80000006, "cancelled": 0x80000007, "not-installed": -1,
            "engine-running": -2, "no-consent": -3, "dialog-failed": -4, "another-copy": -5}

# Archive entries in index order and the file each becomes; the version list names data3.arc with a
# folder part, so the run installs that entry as Sub\data3.arc.
PAYLOAD = [("data1.arc", "data1.arc"), ("data2.arc", "data2.arc"), ("data3.arc", "Sub/data3.arc"),
           ("TLX.hvl", "TLX.hvl"), ("TLX.exe", "TLX.exe")]
# The version list's records: the four carried files, one the folder has and one it lacks (pruned).
SIZES = {"data1.arc": 2_500_000, "data2.arc": 300_000, "Sub/data3.arc": 1000, "TLX.exe": 5000, "old.arc": 700,
         "gone.arc": 800}
SMALL_SIZES = dict(SIZES, **{"data1.arc": 25_000, "data2.arc": 3000})  # one chunk each, for the emulated CPU
UNINSTALL_LIST = b"$Dir\r\nData1.arc\r\n  readme.txt\r\n"
MERGED_UNINSTALL_LIST = b"data1.arc\nreadme.txt\ndata2.arc\nsub\\data3.arc\ntlx.hvl\ntlx.exe\n$dir\n\0"


def expected_line(word):
    """A line of the driver's report: a message box by its text's name, held:TARGET for the held run's
    dialog (its label naming TARGET, centred; aborted:TARGET once the abort is confirmed and its button
    disabled), exit=STATUS or exitK=STATUS for copy K's end."""
    title = texts.TITLE.encode("cp932").hex().upper()
    if word.startswith("exit"):
        copy, status = word[4:].split("=")
        return f"exit copy={copy or 1} status=0x{STATUSES[status] & 0xFFFFFFFF:08X}"
    if word.startswith(("held:", "aborted:")):
        target, button = word.split(":", 1)[1], "disabled" if word.startswith("aborted:") else "enabled"
        label = (target + texts.LABEL_SUFFIX).encode("cp932").hex().upper()
        return f"held label={label} caption={title} visible=1 centred=1 abort={button}"
    question, icon = word in ("consent", "abort"), {"completed": "information"}.get(word, "warning")
    return (f"box copy=1 text={texts.MESSAGES[word].encode('cp932').hex().upper()} caption={title} "
            f"owner={'dialog' if word == 'abort' else 'none'} buttons={'yes,no' if question else 'ok'} "
            f"default={'no' if question else 'ok'} icon={'question' if question else icon}")


# Steps (driver.cpp), the expected report and whether the folder ends installed (or else unchanged).
Scenario = collections.namedtuple("Scenario", "steps report installed registry build prepare win32",
                                  defaults=("REG_SZ", "formats", None, False))
YES, OK = "start box answer:yes", "box answer:ok exit:1"
SCENARIOS = {
    "typical": Scenario(f"{YES} {OK}", "consent completed exit=ok", True, win32=True),
    "signed": Scenario(f"{YES} {OK}", "consent completed exit=ok", True, build="signed"),
    "consent-refused": Scenario("start box answer:no exit:1", "consent exit=no-consent", False, win32=True),
    "registry-missing": Scenario(f"start {OK}", "not-installed exit=not-installed", False, registry=None),
    "registry-expand-sz": Scenario(f"start {OK}", "not-installed exit=not-installed", False, "REG_EXPAND_SZ",
                                   win32=True),
    "registry-too-long": Scenario(f"start {OK}", "not-installed exit=not-installed", False, "too long"),
    "game-running": Scenario(f"mutex:game start {OK}", "engine-running exit=engine-running", False, win32=True),
    "other-updater-running": Scenario("mutex:updater start exit:1", "exit=another-copy", False, win32=True),
    "second-copy": Scenario("start box start exit:2 answer:no exit:1", "consent exit2=another-copy exit=no-consent",
                            False),
    "dialog-not-created": Scenario(f"start:no-dialog box answer:yes {OK}", "consent dialog-failed exit=dialog-failed",
                                   False),
    "abort-confirmed": Scenario("start:3 box answer:yes held click release box answer:yes held release exit:1",
                                "consent held:Sub\\data3.arc abort aborted:Sub\\data3.arc exit=aborted", False),
    "abort-declined": Scenario(f"start:2 box answer:yes held ignored click release box answer:no {OK}",
                               "consent held:data2.arc abort completed exit=ok", True, win32=True),
    "dialog-closed": Scenario("start:3 box answer:yes held close release exit:1",
                              "consent held:Sub\\data3.arc exit=cancelled", False),
    "quit-message": Scenario("start:3 box answer:yes held quit release exit:1",  # taken as a stop
                             "consent held:Sub\\data3.arc exit=cancelled", False, win32=True),
    "damaged": Scenario(f"{YES} {OK}", "consent damaged exit=damaged", False, build="damaged"),
    "too-many-entries": Scenario(f"{YES} {OK}", "consent damaged exit=too-many", False, build="33 entries"),
    "write-failed": Scenario(f"{YES} {OK}", "consent write-failed exit=write-failed", False,
                             prepare=lambda folder: (folder / "data2.arc.tmp").mkdir()),
    # A patch of what changed between the installed release and a new one, chosen by patchtool build --base;
    # Sub\data1.arc is the same in both, so data1.arc's record must come before its own.
    "release-patch": Scenario(f"{YES} {OK}", "consent completed exit=ok", True, build="release",
                              prepare=lambda folder: formats.write_folder(folder, {
                                  "Sub/data1.arc": b"same", "Sub/data3.arc": b"older", "removed.arc": b"r"})),
    # A patch of a whole release (build --from) that holds the publisher's own uninst.lst: the player's is kept
    # and merged, its lines of its own (DLC, folders) included.
    "whole-release-patch": Scenario(f"{YES} {OK}", "consent completed exit=ok", True, build="from"),
    # One patch from the sample game's three earlier releases to the new one, run on an install of the oldest.
    "cumulative-patch": Scenario(f"{YES} {OK}", "consent completed exit=ok", True, build="cumulative",
                                 prepare=lambda folder: install_sample_release(folder, "release-3")),
    # A virus scanner holds data1.arc, which the run must replace, while the run stages its last file: for
    # 2 s, which the run waits out, or throughout, which fails the run before any move.
    "target-held-briefly": Scenario(f"start:5 box answer:yes held hold:data1.arc:2000 release {OK}",
                                    "consent held:TLX.exe completed exit=ok", True),
    "target-held-throughout": Scenario(f"start:5 box answer:yes held hold:data1.arc release {OK}",
                                       "consent held:TLX.exe write-failed exit=write-failed", False),
    "uninstall-list-missing": Scenario(f"{YES} {OK}", "consent uninstall-failed exit=uninstall-failed", True,
                                       prepare=lambda folder: (folder / "uninst.lst").unlink()),
}


def install_sample_release(folder, release):
    """The sample game (tools/make_sample_game.py, small) beside the folder, and one release of it installed."""
    run([sys.executable, ROOT / "tools" / "make_sample_game.py", folder.parent / "sample", "--scale", "0.01"], "sample")
    shutil.rmtree(folder)
    shutil.copytree(folder.parent / "sample" / release, folder)
    (folder / "uninst.lst").write_bytes(UNINSTALL_LIST)


def run(command, what, check_status=True, timeout=120):
    result = subprocess.run([str(part) for part in command], capture_output=True, timeout=timeout)
    assert not check_status or result.returncode == 0, f"{what} failed: {result.stderr.decode(errors='replace')}"
    return result


class World:
    def __init__(self, name, tools, architecture):
        runner, prefix = ARCHITECTURES[architecture]
        self.tools, self.wine_run = tools, ROOT / "scripts" / runner
        self.drive_c = pathlib.Path(os.environ.get(prefix) or ROOT / "build" / architecture / "wineprefix") / "drive_c"
        # A folder of this run's own: Wine may still map a program it ran from a path that a rerun
        # fills with other bytes, and then fails to start it.
        self.base = self.drive_c / "vennholt-e2e" / f"{name}-{os.getpid()}"
        self.folder, self.patch = self.base / "Vennholt", self.base / "setup.exe"
        rng = random.Random(f"vennholt-e2e-{name}")
        sizes = SMALL_SIZES if architecture == "win32" else SIZES
        self.new = {path: rng.randbytes(size) for path, size in sizes.items()}
        self.before = {"Sub": None, "data1.arc": rng.randbytes(sizes["data1.arc"] // 2), "old.arc": self.new["old.arc"],
                       "TLX.exe": rng.randbytes(999), "TLX.hvl": b"QTS_V2__" + bytes(8), "uninst.lst": UNINSTALL_LIST}
        self.records = [(path.replace("/", "\\"), formats.check_value(self.new[path])) for path in sizes]
        self.release = None  # the folder patchtool apply leaves, for a patch it built

    def windows_path(self, path):
        return "C:\\" + "\\".join(path.relative_to(self.drive_c).parts)

    def set_registry(self, kind):
        if kind is None:  # absent already is fine too
            run([self.wine_run, "reg", "delete", REGISTRY_KEY, "/v", "InstalledFolder", "/f"], "reg", False)
            return
        kind, value = ("REG_SZ", "C:\\" + "v" * 300) if kind == "too long" else (kind, self.windows_path(self.folder))
        run([self.wine_run, "reg", "add", REGISTRY_KEY, "/v", "InstalledFolder", "/t", kind, "/d", value, "/f"], "reg")

    def write_release_patch(self, bases, new):
        """A patch from the releases `bases` to `new`, and the folder patchtool apply leaves."""
        copy = self.base / "copy"
        run([self.tools["patchtool"], "build", *(option for base in bases for option in ("--base", base)), "--from",
             new, "--stub", self.tools["setup"], "--out", self.patch], "patchtool build --base")
        shutil.copytree(self.folder, copy)
        run([self.tools["patchtool"], "apply", self.patch, "--folder", copy], "patchtool apply")
        self.release = formats.folder_state(copy)
        stale = [path for path, data in formats.folder_state(new).items()
                 if path != "uninst.lst" and self.release.get(path) != data]  # the player's list is merged
        assert not stale, f"patchtool apply left old files: {stale}"

    def write_patch(self, build):
        if build == "cumulative":
            sample = self.base / "sample"
            return self.write_release_patch([sample / f"release-{n}" for n in (3, 2, 1)], sample / "game")
        if build == "from":  # a whole release, its own uninst.lst among its files: every player's list is kept
            new = self.base / "new"
            formats.write_folder(new, {path: self.new[path] for _, path in PAYLOAD if path != "TLX.hvl" and "/" not in path} |
                                 {"uninst.lst": b"Publisher.arc\r\n"})  # --from takes the files directly in it
            self.write_release_patch([], new)
            merged = self.release["uninst.lst"]
            assert b"\nreadme.txt\n" in merged and b"$dir\n" in merged and b"publisher" not in merged, merged
            return None
        if build == "release":  # from the installed release, whose two lists take no part in the comparison
            old, new = self.base / "old", self.base / "new"
            shutil.copytree(self.folder, old)
            release = {p: d for p, d in formats.folder_state(old).items() if p not in ("TLX.hvl", "uninst.lst", "removed.arc")}
            formats.write_folder(new, release | {path: self.new[path] for _, path in PAYLOAD if path != "TLX.hvl"})
            self.write_release_patch([old], new)
            assert self.release["removed.arc"] == b"r", "patchtool apply removed a file"
            return None
        records = list(self.records)
        if build == "damaged":  # the record of data2.arc no longer matches what the patch carries
            records[1] = (records[1][0], formats.check_value(self.new["data2.arc"] + b"!"))
        hvl = formats.version_list(records)
        entries = [(name, hvl if path == "TLX.hvl" else self.new[path]) for name, path in PAYLOAD]
        entries += [(f"extra{i}.arc", bytes([i])) for i in range(33 - len(entries) if build == "33 entries" else 0)]
        self.patch.write_bytes(formats.patch(entries, stub=pathlib.Path(self.tools["setup"]).read_bytes()))
        if build != "signed":
            return
        # Signed as a publisher would, with a throwaway certificate: the signature lies after the
        # payload, where nothing reads, so patchtool still verifies, lists and installs the patch.
        key, cert, signed = self.base / "key.pem", self.base / "cert.pem", self.base / "signed.exe"
        run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Halvorn test",
             "-keyout", key, "-out", cert], "openssl")
        run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Vennholt update", "-in", self.patch, "-out",
             signed], "osslsigncode")
        signed.replace(self.patch)
        formats.write_folder(self.base / "copy", self.before)
        for command in (["verify"], ["list"], ["apply", "--folder", self.base / "copy"]):
            run([self.tools["patchtool"], *command, self.patch], f"patchtool {command[0]} of the signed patch")
        copy, expected = formats.folder_state(self.base / "copy"), self.installed(self.before)
        assert copy == expected, f"patchtool apply of the signed patch: {formats.difference(copy, expected)}"

    def installed(self, before):
        """The new files over the old, the version list pruned to existing files, the uninstall list merged."""
        if self.release:
            return self.release
        after = dict(before, **{path: self.new[path] for _, path in PAYLOAD if path != "TLX.hvl"})
        after["TLX.hvl"] = formats.version_list([r for r in self.records if r[0].replace("\\", "/") in after])
        after.update({"uninst.lst": MERGED_UNINSTALL_LIST} if "uninst.lst" in before else {})
        return after


def run_scenario(name, tools, architecture):
    scenario, world = SCENARIOS[name], World(name, tools, architecture)
    world.set_registry(scenario.registry)  # first: the first use of the prefix creates it, drive C: included
    shutil.rmtree(world.base, ignore_errors=True)
    formats.write_folder(world.folder, world.before)
    if scenario.prepare:
        scenario.prepare(world.folder)
    before = formats.folder_state(world.folder)
    world.write_patch(scenario.build)

    steps = [f"mutex:{MUTEXES[step[6:]]}" if step.startswith("mutex:") else step for step in scenario.steps.split()]
    result = run([world.wine_run, tools["driver"], "setup", world.windows_path(world.patch),
                  world.windows_path(world.folder), *steps], "the driver", False, 150)
    lines = [line for line in result.stdout.decode("utf-8", errors="replace").splitlines() if line.strip()]
    expected = [expected_line(word) for word in scenario.report.split()]
    assert lines == expected and result.returncode == 0, (
        f"the driver ended with {result.returncode} and reported\n  " + ("\n  ".join(lines) or "(nothing)")
        + "\nexpected\n  " + "\n  ".join(expected) + f"\nstandard error: {result.stderr.decode(errors='replace')}")
    actual, expected = formats.folder_state(world.folder), world.installed(before) if scenario.installed else before
    assert actual == expected, f"install folder not as expected: {formats.difference(actual, expected)}"
    shutil.rmtree(world.base, ignore_errors=True)


def main():
    if sys.argv[1:2] == ["--list"]:  # the scenarios of one build, for CMake
        print(";".join(name for name, scenario in SCENARIOS.items() if sys.argv[2:] == ["win64"] or scenario.win32))
        return 0
    parser = argparse.ArgumentParser(description=__doc__, epilog="--list win64|win32: the scenarios of a build")
    parser.add_argument("--arch", choices=ARCHITECTURES, default="win64")
    for tool in ("setup", "driver", "patchtool"):
        parser.add_argument(f"--{tool}", type=os.path.abspath, required=True)
    parser.add_argument("scenario", choices=SCENARIOS)
    args = parser.parse_args()
    try:
        run_scenario(args.scenario, vars(args), args.arch)
    except (AssertionError, OSError, subprocess.TimeoutExpired) as failure:
        print(f"FAILED {args.scenario}: {failure}")
        return 1
    print(f"passed {args.scenario}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
