#!/usr/bin/python3
"""End-to-end scenarios of setup.exe under Wine, one CTest test each.

    setup_e2e.py --list win64|win32
    setup_e2e.py [--arch win64|win32] --setup SETUP_EXE --driver DRIVER_EXE --patchtool PATCHTOOL SCENARIO

Each scenario writes an install folder under the Wine prefix's drive C:, sets the registry value that
names it and writes a patch of SETUP_EXE with patch_formats (the signed one is built by patchtool and
signed); the driver (driver.cpp) plays the user, the game or another copy of the updater. Its report
must match the scenario's line by line, and the folder afterwards the expected one byte by byte.
win64 runs through scripts/wine-run in $VENNHOLT_WINEPREFIX; win32 through scripts/wine32-run in
$VENNHOLT_WINE32PREFIX on an emulated CPU, with smaller files and only the scenarios marked for it.
"""
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
NOT_INSTALLED, ENGINE_RUNNING, NO_CONSENT, DIALOG_FAILED, ANOTHER_COPY = range(0xFFFFFFFF, 0xFFFFFFFA, -1)
OK, DAMAGED, TOO_MANY, WRITE_FAILED, UNINSTALL_FAILED, ABORTED, CANCELLED = (
    0, 0x80000001, 0x80000002, 0x80000004, 0x80000005, 0x80000006, 0x80000007)

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
TITLE = texts.TITLE.encode("cp932").hex().upper()


def box(message, owner="none"):
    question = message in ("consent", "abort")
    icon = "question" if question else "information" if message == "completed" else "warning"
    return (f"box copy=1 text={texts.message_bytes(message).hex().upper()} caption={TITLE} owner={owner} "
            f"buttons={'yes,no' if question else 'ok'} default={'no' if question else 'ok'} icon={icon}")


def held(target):
    label = (target + texts.LABEL_SUFFIX).encode("cp932").hex().upper()
    return f"held copy=1 label={label} caption={TITLE} visible=1 centred=1"


def exit_line(status, copy=1):
    return f"exit copy={copy} status=0x{status:08X}"


def outcome(message, status):
    return [box("consent"), box(message), exit_line(status)]


def hold_at(label_count):
    return [f"start:{label_count}", "box", "answer:yes", "held"]


Scenario = collections.namedtuple("Scenario", "steps report installed registry build prepare win32",
                                  defaults=("REG_SZ", "formats", None, False))
CONSENT, FINISH = ["start", "box", "answer:yes"], ["box", "answer:ok", "exit:1"]
NOT_INSTALLED_REPORT = [box("not installed"), exit_line(NOT_INSTALLED)]
SCENARIOS = {
    "typical": Scenario(CONSENT + FINISH, outcome("completed", OK), True, win32=True),
    "signed": Scenario(CONSENT + FINISH, outcome("completed", OK), True, build="signed"),
    "consent-refused": Scenario(["start", "box", "answer:no", "exit:1"], [box("consent"), exit_line(NO_CONSENT)],
                                False, win32=True),
    "registry-missing": Scenario(["start"] + FINISH, NOT_INSTALLED_REPORT, False, registry=None),
    "registry-expand-sz": Scenario(["start"] + FINISH, NOT_INSTALLED_REPORT, False, "REG_EXPAND_SZ", win32=True),
    "registry-too-long": Scenario(["start"] + FINISH, NOT_INSTALLED_REPORT, False, registry="too long"),
    # The names of the game's and the updater's mutexes are shared with other programs and releases.
    "game-running": Scenario(["mutex:Pelmar General Interpreter for Vennholt is executing.", "start"] + FINISH,
                             [box("engine running"), exit_line(ENGINE_RUNNING)], False, win32=True),
    "other-updater-running": Scenario(["mutex:Updater for Vennholt is executing.", "start", "exit:1"],
                                      [exit_line(ANOTHER_COPY)], False, win32=True),
    "second-copy": Scenario(["start", "box", "start", "exit:2", "answer:no", "exit:1"],
                            [box("consent"), exit_line(ANOTHER_COPY, copy=2), exit_line(NO_CONSENT)], False),
    "dialog-not-created": Scenario(["start:no-dialog", "box", "answer:yes"] + FINISH,
                                   outcome("dialog failed", DIALOG_FAILED), False),
    # Held while the label names the Nth entry: what is posted then acts before entry N is staged.
    "abort-confirmed": Scenario(hold_at(3) + ["click", "release", "box", "answer:yes", "exit:1"],
                                [box("consent"), held("Sub\\data3.arc"), box("abort", "dialog"), exit_line(ABORTED)],
                                False),
    "abort-declined": Scenario(hold_at(2) + ["click", "release", "box", "answer:no"] + FINISH,
                               [box("consent"), held("data2.arc"), box("abort", "dialog"), box("completed"),
                                exit_line(OK)], True, win32=True),
    "dialog-closed": Scenario(hold_at(3) + ["close", "release", "exit:1"],
                              [box("consent"), held("Sub\\data3.arc"), exit_line(CANCELLED)], False),
    "quit-message": Scenario(hold_at(3) + ["quit", "release", "exit:1"],
                             [box("consent"), held("Sub\\data3.arc"), exit_line(CANCELLED)], False),
    "damaged": Scenario(CONSENT + FINISH, outcome("damaged", DAMAGED), False, build="damaged"),
    "too-many-entries": Scenario(CONSENT + FINISH, outcome("damaged", TOO_MANY), False, build="33 entries"),
    "write-failed": Scenario(CONSENT + FINISH, outcome("write failed", WRITE_FAILED), False,
                             prepare=lambda folder: (folder / "data2.arc.tmp").mkdir()),
    "uninstall-list-missing": Scenario(CONSENT + FINISH, outcome("uninstall list failed", UNINSTALL_FAILED), True,
                                       prepare=lambda folder: (folder / "uninst.lst").unlink()),
}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(command, what, check_status=True, timeout=120, **options):
    result = subprocess.run([str(part) for part in command], capture_output=True, timeout=timeout, **options)
    check(not check_status or result.returncode == 0, f"{what} failed: {result.stderr.decode(errors='replace')}")
    return result


class World:
    def __init__(self, name, tools, architecture):
        runner, prefix = ARCHITECTURES[architecture]
        self.tools, self.wine_run = tools, ROOT / "scripts" / runner
        self.drive_c = pathlib.Path(os.environ.get(prefix) or ROOT / "build" / architecture / "wineprefix") / "drive_c"
        self.base = self.drive_c / "vennholt-e2e" / name
        self.folder, self.patch = self.base / "Vennholt", self.base / "setup.exe"
        rng = random.Random(f"vennholt-e2e-{name}")
        sizes = SMALL_SIZES if architecture == "win32" else SIZES
        self.new = {path: rng.randbytes(size) for path, size in sizes.items()}
        self.before = {"Sub": None, "data1.arc": rng.randbytes(sizes["data1.arc"] // 2), "old.arc": self.new["old.arc"],
                       "TLX.exe": rng.randbytes(999), "TLX.hvl": b"QTS_V2__" + bytes(8), "uninst.lst": UNINSTALL_LIST}
        self.records = [(path.replace("/", "\\"), formats.check_value(self.new[path])) for path in sizes]

    def windows_path(self, path):
        return "C:\\" + "\\".join(path.relative_to(self.drive_c).parts)

    def set_registry(self, kind):
        if kind is None:  # absent already is fine too
            run([self.wine_run, "reg", "delete", REGISTRY_KEY, "/v", "InstalledFolder", "/f"], "reg", False)
            return
        kind, value = ("REG_SZ", "C:\\" + "v" * 300) if kind == "too long" else (kind, self.windows_path(self.folder))
        run([self.wine_run, "reg", "add", REGISTRY_KEY, "/v", "InstalledFolder", "/t", kind, "/d", value, "/f"], "reg")

    def write_patch(self, build):
        records = list(self.records)
        if build == "damaged":  # the record of data2.arc no longer matches what the patch carries
            records[1] = (records[1][0], formats.check_value(self.new["data2.arc"] + b"!"))
        hvl = formats.version_list(records)
        entries = [(name, hvl if path == "TLX.hvl" else self.new[path]) for name, path in PAYLOAD]
        entries += [(f"extra{i}.arc", bytes([i])) for i in range(33 - len(entries) if build == "33 entries" else 0)]
        if build != "signed":
            self.patch.write_bytes(formats.patch(entries, stub=pathlib.Path(self.tools["setup"]).read_bytes()))
            return
        formats.write_folder(self.base / "payload", dict(entries))
        run([self.tools["patchtool"], "build", "--stub", self.tools["setup"], "--out", self.patch,
             *[f"{name}={self.base / 'payload' / name}" for name, _ in PAYLOAD]], "patchtool build")
        # Signed as a publisher would, with a throwaway certificate: the signature lies after the
        # payload, where nothing reads, so patchtool still verifies, lists and installs the patch.
        key, cert, signed = self.base / "key.pem", self.base / "cert.pem", self.base / "signed.exe"
        run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Halvorn test",
             "-keyout", key, "-out", cert], "openssl")
        run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Vennholt update", "-in", self.patch, "-out",
             signed], "osslsigncode")
        unsigned, data = self.patch.read_bytes(), signed.read_bytes()
        check(len(data) > len(unsigned) and data.startswith(unsigned[formats.PAYLOAD_OFFSET:], formats.PAYLOAD_OFFSET),
              "signing changed the payload")
        signed.replace(self.patch)
        formats.write_folder(self.base / "copy", self.before)
        for command in (["verify"], ["list"], ["apply", "--folder", self.base / "copy"]):
            run([self.tools["patchtool"], *command, self.patch], f"patchtool {command[0]} of the signed patch")
        copy, expected = formats.folder_state(self.base / "copy"), self.installed(self.before)
        check(copy == expected, f"patchtool apply of the signed patch: {formats.difference(copy, expected)}")

    def installed(self, before):
        """The payload's files over the old ones, the version list pruned to the records whose files
        exist, and the uninstall list merged if there is one."""
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

    result = run([world.wine_run, tools["driver"], "setup", world.windows_path(world.patch),
                  world.windows_path(world.folder), *scenario.steps], "the driver", False, 150,
                 env=dict(os.environ, VENNHOLT_WINE_TIMEOUT=os.environ.get("VENNHOLT_WINE_TIMEOUT", "120")))
    lines = [line for line in result.stdout.decode("utf-8", errors="replace").splitlines() if line.strip()]
    errors = result.stderr.decode("utf-8", errors="replace").strip()
    check(lines == scenario.report and result.returncode == 0,
          f"the driver ended with {result.returncode} and reported\n  " + ("\n  ".join(lines) or "(nothing)")
          + "\nexpected\n  " + "\n  ".join(scenario.report) + (f"\nstandard error: {errors}" if errors else ""))
    actual, expected = formats.folder_state(world.folder), world.installed(before) if scenario.installed else before
    check(actual == expected, f"install folder not as expected: {formats.difference(actual, expected)}")
    shutil.rmtree(world.base, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--list", choices=ARCHITECTURES, help="print the scenarios of one build")
    parser.add_argument("--arch", choices=ARCHITECTURES, default="win64")
    for tool in ("setup", "driver", "patchtool"):
        parser.add_argument(f"--{tool}", type=os.path.abspath)
    parser.add_argument("scenario", nargs="?", choices=SCENARIOS)
    args = parser.parse_args()
    if args.list:
        print(";".join(name for name, scenario in SCENARIOS.items() if args.list == "win64" or scenario.win32))
        return 0
    if not (args.setup and args.driver and args.patchtool and args.scenario):
        parser.error("--setup, --driver, --patchtool and a scenario are needed")
    try:
        run_scenario(args.scenario, vars(args), args.arch)
    except (Failure, OSError, subprocess.TimeoutExpired) as failure:
        print(f"FAILED {args.scenario}: {failure}")
        return 1
    print(f"passed {args.scenario}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
