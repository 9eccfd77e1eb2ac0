#!/usr/bin/python3
"""End-to-end tests of setup.exe under Wine, one CTest test per scenario.

    setup_e2e.py --list
    setup_e2e.py [--arch win64|win32] --setup SETUP_EXE --driver DRIVER_EXE --patchtool PATCHTOOL SCENARIO

Each scenario starts from nothing: a fresh install folder under the Wine prefix's drive C:, the
registry value that names it (set with 'reg add' in the prefix), and a patch built from the given
setup.exe stub, by the native patchtool ('hvl make', then 'build') or by the independent packer
below, which writes the version list and the archive from the formats alone. The driver program
(driver.exe setup ...) then plays the user: it answers the boxes, holds the run at a chosen entry,
clicks the abort button or closes the dialog, looks at the install folder while a stop is pending,
and reports every box (text, caption, owner, buttons, icon) and the exit status. The scenario
compares that report line by line with the lines it expects, and the install folder afterwards
byte by byte with the state it expects.

--arch names the build under test (win64 by default). The 64-bit programs run through
scripts/wine-run in its prefix ($VENNHOLT_WINEPREFIX, by default build/win64/wineprefix), the
32-bit ones through scripts/wine32-run in its prefix ($VENNHOLT_WINE32PREFIX, by default
build/win32/wineprefix) on an emulated CPU, with smaller payloads. Scenarios must not run in
parallel, as the updater allows only one copy of itself at a time.
"""
import os
import pathlib
import random
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "static"))
import setup_texts  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
# Per build under test: the runner of its programs and that runner's prefix (see use_architecture).
ARCHITECTURES = {
    "win64": (ROOT / "scripts" / "wine-run",
              os.environ.get("VENNHOLT_WINEPREFIX") or ROOT / "build" / "win64" / "wineprefix"),
    "win32": (ROOT / "scripts" / "wine32-run",
              os.environ.get("VENNHOLT_WINE32PREFIX") or ROOT / "build" / "win32" / "wineprefix"),
}
WINE_RUN, PREFIX = ARCHITECTURES["win64"][0], pathlib.Path(ARCHITECTURES["win64"][1])
REGISTRY_KEY = r"HKLM\Software\Halvorn\Vennholt"

PAYLOAD_OFFSET = 0x60000

# Exit statuses, as the 32-bit values the driver reports.
NOT_INSTALLED, ENGINE_RUNNING, NO_CONSENT, DIALOG_FAILED, ANOTHER_COPY = (
    0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFC, 0xFFFFFFFB)
OK, DAMAGED, TOO_MANY, WRITE_FAILED, UNINSTALL_FAILED, ABORTED, CANCELLED = (
    0, 0x80000001, 0x80000002, 0x80000004, 0x80000005, 0x80000006, 0x80000007)

# The payload: archive entries in index order (entry name, file in the payload folder). The version
# list names data3.arc with a folder part, so the run installs that entry as Sub\data3.arc.
ENTRIES = [("data1.arc", "data1.arc"), ("data2.arc", "data2.arc"), ("data3.arc", "Sub/data3.arc"),
           ("TLX.hvl", "TLX.hvl"), ("TLX.exe", "TLX.exe")]
# Records of the version list, in order: the four carried files, one the install folder has and
# one it lacks, which the pruning drops.
RECORDS = ["data1.arc", "data2.arc", "Sub/data3.arc", "TLX.exe", "old.arc", "gone.arc"]
TARGETS = ["data1.arc", "data2.arc", "Sub\\data3.arc", "TLX.hvl", "TLX.exe"]
SIZES = {"data1.arc": 2_500_000, "data2.arc": 300_000, "Sub/data3.arc": 1000, "TLX.exe": 5000,
         "old.arc": 700, "gone.arc": 800}
# On the emulated CPU every file fits in one chunk of the run's copy loop; the unit tests cover files
# of several chunks on both builds.
SMALL_SIZES = dict(SIZES, **{"data1.arc": 25_000, "data2.arc": 3000})

# The install folder before the update: older copies of two payload files, a file only it has,
# the empty folder Sub, an older version list and the uninstall list.
UNINSTALL_LIST = b"$Dir\r\nData1.arc\r\n  readme.txt\r\n"
MERGED_UNINSTALL_LIST = b"data1.arc\nreadme.txt\ndata2.arc\nsub\\data3.arc\ntlx.hvl\ntlx.exe\n$dir\n\0"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


# ---- the independent packer

def check_value(data):
    """hash = hash * 233 + d (32 bits); sum and xor of the hash's low byte after each step and of the
    data bytes."""
    hash_value = low_sum = low_xor = data_sum = data_xor = 0
    for d in data:
        hash_value = (hash_value * 233 + d) & 0xFFFFFFFF
        low = hash_value & 0xFF
        low_sum, low_xor = (low_sum + low) & 0xFF, low_xor ^ low
        data_sum, data_xor = (data_sum + d) & 0xFF, data_xor ^ d
    return struct.pack("<IBBBB", hash_value, low_sum, low_xor, data_sum, data_xor)


def version_list(records):
    """Version 2: "QTS_V2__", a zero word, the count, then 248-byte names and 8-byte check values."""
    body = b"".join(name.encode("cp932").ljust(248, b"\0") + value for name, value in records)
    return b"QTS_V2__" + struct.pack("<II", 0, len(records)) + body


def pack(stub, entries):
    """The stub padded with zeros to 0x60000, the "PELMAR ARC20" header, 128-byte index entries
    (96-byte name, offset from the data base, size, 24 zero bytes) and the entries back to back."""
    index, data = b"", b""
    for name, content in entries:
        index += name.encode("cp932").ljust(96, b"\0") + struct.pack("<II", len(data), len(content)) + bytes(24)
        data += content
    check(len(stub) < PAYLOAD_OFFSET, f"the stub is {len(stub)} bytes")
    return stub + bytes(PAYLOAD_OFFSET - len(stub)) + b"PELMAR ARC20" + struct.pack("<I", len(entries)) + index + data


# ---- one scenario's world

def windows_path(path):
    relative = path.relative_to(PREFIX / "drive_c")
    return "C:\\" + "\\".join(relative.parts)


def snapshot(folder):
    """{relative path: bytes, or None for a folder}, with "\\" between folders."""
    state = {}
    for path in sorted(folder.rglob("*")):
        key = "\\".join(path.relative_to(folder).parts)
        state[key] = None if path.is_dir() else path.read_bytes()
    return state


def describe_difference(actual, expected):
    lines = []
    for key in sorted(set(actual) | set(expected)):
        if key not in actual:
            lines.append(f"missing {key}")
        elif key not in expected:
            lines.append(f"unexpected {key}")
        elif actual[key] != expected[key]:
            size = len(actual[key]) if actual[key] is not None else "folder"
            lines.append(f"different {key} ({size} bytes)")
    return "; ".join(lines)


class World:
    def __init__(self, name, tools):
        self.tools = tools
        self.base = PREFIX / "drive_c" / "vennholt-e2e" / name
        self.folder = self.base / "Vennholt"
        self.payload = self.base / "payload"
        self.patch = self.base / "patch" / "setup.exe"
        rng = random.Random(f"vennholt-e2e-{name}")
        self.new = {path: rng.randbytes(size) for path, size in SIZES.items()}
        self.old = {path: rng.randbytes(SIZES[path] // 2 + 1) for path in ("data1.arc", "TLX.exe")}

    def reg(self, *arguments):
        result = subprocess.run([str(WINE_RUN), "reg", *arguments], capture_output=True, timeout=120)
        return result.returncode

    def set_registry(self, kind, value):
        if kind is None:
            self.reg("delete", REGISTRY_KEY, "/v", "InstalledFolder", "/f")  # absent already is fine too
        else:
            status = self.reg("add", REGISTRY_KEY, "/v", "InstalledFolder", "/t", kind, "/d", value, "/f")
            check(status == 0, f"reg add failed with {status}")

    def prepare_folder(self):
        shutil.rmtree(self.base, ignore_errors=True)
        (self.folder / "Sub").mkdir(parents=True)
        (self.folder / "data1.arc").write_bytes(self.old["data1.arc"])
        (self.folder / "TLX.exe").write_bytes(self.old["TLX.exe"])
        (self.folder / "old.arc").write_bytes(self.new["old.arc"])
        (self.folder / "TLX.hvl").write_bytes(b"QTS_V2__" + bytes(8))
        (self.folder / "uninst.lst").write_bytes(UNINSTALL_LIST)

    def write_payload(self):
        for path, content in self.new.items():
            (self.payload / path).parent.mkdir(parents=True, exist_ok=True)
            (self.payload / path).write_bytes(content)

    def patchtool(self, *arguments):
        result = subprocess.run([self.tools["patchtool"], *arguments], capture_output=True, timeout=120)
        check(result.returncode == 0, f"patchtool {arguments[0]} failed: {result.stderr.decode(errors='replace')}")

    def build_with_patchtool(self, damage=None):
        """hvl make and build; damage names a file that changes between the two, so that its record
        no longer matches what the patch carries."""
        self.write_payload()
        self.patchtool("hvl", "make", "--root", str(self.payload), "--out", str(self.payload / "TLX.hvl"), *RECORDS)
        if damage:
            changed = bytearray(self.new[damage])
            changed[len(changed) // 2] ^= 0x01
            (self.payload / damage).write_bytes(bytes(changed))
        self.patch.parent.mkdir(parents=True, exist_ok=True)
        self.patchtool("build", "--stub", self.tools["setup"], "--out", str(self.patch),
                       *[f"{name}={self.payload / path}" for name, path in ENTRIES])

    def sign(self):
        """Signs the patch with Authenticode as a publisher would, with a throwaway certificate, then
        checks that patchtool still verifies and lists it and installs it exactly (natively, into a
        copy of the install folder): the signature lies after the payload, where nothing reads."""
        keys = self.base / "keys"
        keys.mkdir()
        run = lambda *command: subprocess.run(command, capture_output=True, timeout=120)  # noqa: E731
        made = run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                   "/CN=Halvorn test signing", "-keyout", str(keys / "key.pem"), "-out", str(keys / "cert.pem"))
        check(made.returncode == 0, f"openssl failed: {made.stderr.decode(errors='replace')}")
        unsigned = self.patch.read_bytes()
        signed_path = self.patch.with_suffix(".signed.exe")
        signed = run("osslsigncode", "sign", "-certs", str(keys / "cert.pem"), "-key", str(keys / "key.pem"),
                     "-n", "Vennholt update", "-in", str(self.patch), "-out", str(signed_path))
        check(signed.returncode == 0, f"osslsigncode failed: {signed.stderr.decode(errors='replace')}")
        signed_path.replace(self.patch)
        data = self.patch.read_bytes()
        check(len(data) > len(unsigned) and data[PAYLOAD_OFFSET:len(unsigned)] == unsigned[PAYLOAD_OFFSET:],
              "signing changed the payload")
        self.patchtool("verify", str(self.patch))
        self.patchtool("list", str(self.patch))
        copy = self.base / "native-copy"
        shutil.copytree(self.folder, copy)
        before = snapshot(copy)
        self.patchtool("apply", "--folder", str(copy), str(self.patch))
        actual = snapshot(copy)
        expected = self.installed_state(before)
        check(actual == expected, f"patchtool apply of the signed patch: {describe_difference(actual, expected)}")
        shutil.rmtree(copy)

    def build_independently(self, extra_entries=0):
        records = [(name.replace("/", "\\"), check_value(self.new[name])) for name in RECORDS]
        contents = dict(self.new, **{"TLX.hvl": version_list(records)})
        entries = [(name, contents[path]) for name, path in ENTRIES]
        entries += [(f"extra{i}.arc", bytes([i])) for i in range(extra_entries)]
        self.patch.parent.mkdir(parents=True, exist_ok=True)
        self.patch.write_bytes(pack(pathlib.Path(self.tools["setup"]).read_bytes(), entries))

    def drive(self, steps):
        command = [str(WINE_RUN), self.tools["driver"], "setup", windows_path(self.patch), windows_path(self.folder),
                   *steps]
        result = subprocess.run(command, capture_output=True, timeout=150,
                                env=dict(os.environ, VENNHOLT_WINE_TIMEOUT=os.environ.get("VENNHOLT_WINE_TIMEOUT",
                                                                                           "120")))
        output = result.stdout.decode("utf-8", errors="replace").replace("\r\n", "\n")
        return [line for line in output.split("\n") if line], result

    def carried_version_list(self):
        """The version list as the patch carries it: the archive entry named TLX.hvl."""
        data = self.patch.read_bytes()
        count = struct.unpack_from("<I", data, PAYLOAD_OFFSET + 12)[0]
        base = PAYLOAD_OFFSET + 16 + 128 * count
        for i in range(count):
            entry = PAYLOAD_OFFSET + 16 + 128 * i
            if data[entry:entry + 96].rstrip(b"\0") == b"TLX.hvl":
                offset, size = struct.unpack_from("<II", data, entry + 96)
                return data[base + offset:base + offset + size]
        raise Failure("the patch carries no TLX.hvl")

    def installed_state(self, before, uninstall_list=True):
        """The folder after a complete run: the payload's files over the old ones, the carried version
        list pruned to the records whose files exist, and the uninstall list merged."""
        after = dict(before)
        for target, (_, path) in zip(TARGETS, ENTRIES):
            if path != "TLX.hvl":
                after[target] = self.new[path]
        carried = self.carried_version_list()
        count = struct.unpack_from("<I", carried, 12)[0]
        records = [carried[16 + 256 * i:16 + 256 * (i + 1)] for i in range(count)]
        kept = [record for record in records if record[:248].rstrip(b"\0").decode("cp932") in after]
        after["TLX.hvl"] = carried[:12] + struct.pack("<I", len(kept)) + b"".join(kept)
        if uninstall_list:
            after["uninst.lst"] = MERGED_UNINSTALL_LIST
        return after


# ---- the driver's report, as the scenario expects it

def hex_bytes(data):
    return data.hex().upper()


def box(message, copy=1, owner="none"):
    question = message in ("consent", "abort")
    buttons, default = ("yes,no", "no") if question else ("ok", "ok")
    icon = "question" if question else "information" if message == "completed" else "warning"
    return (f"box copy={copy} text={hex_bytes(setup_texts.message_bytes(message))} "
            f"caption={hex_bytes(setup_texts.title_bytes())} owner={owner} buttons={buttons} default={default} "
            f"icon={icon}")


def abort_question():
    return box("abort", owner="dialog")


def held(target):
    """The run held while the label names target: the dialog is shown, with the window title."""
    return (f"held copy=1 label={hex_bytes(setup_texts.label_bytes(target))} "
            f"caption={hex_bytes(setup_texts.title_bytes())} visible=1")


def staging(*names):
    return f"staging new={','.join(sorted(names))} changed="


def exit_status(status, copy=1):
    return f"exit copy={copy} status=0x{status:08X}"


# ---- scenarios

class Scenario:
    def __init__(self, steps, report, outcome, registry="REG_SZ", build="patchtool", prepare=None):
        self.steps, self.report, self.outcome = steps, report, outcome
        self.registry, self.build, self.prepare = registry, build, prepare


def consent_then(*rest):
    return ["start", "box", "answer:yes", *rest]


FINISH_OK = ["box", "answer:ok", "exit:1"]

SCENARIOS = {
    "typical": Scenario(
        consent_then(*FINISH_OK), [box("consent"), box("completed"), exit_status(OK)], "installed"),
    "consent-refused": Scenario(
        ["start", "box", "answer:no", "exit:1"], [box("consent"), exit_status(NO_CONSENT)], "unchanged"),
    "registry-missing": Scenario(
        ["start", *FINISH_OK], [box("not installed"), exit_status(NOT_INSTALLED)], "unchanged", registry=None),
    "registry-expand-sz": Scenario(
        ["start", *FINISH_OK], [box("not installed"), exit_status(NOT_INSTALLED)], "unchanged",
        registry="REG_EXPAND_SZ"),
    "registry-too-long": Scenario(
        ["start", *FINISH_OK], [box("not installed"), exit_status(NOT_INSTALLED)], "unchanged",
        registry="too long"),
    "engine-running": Scenario(
        ["engine-mutex", "start", *FINISH_OK], [box("engine running"), exit_status(ENGINE_RUNNING)], "unchanged"),
    "second-copy": Scenario(
        ["start", "box", "start", "exit:2", "answer:no", "exit:1"],
        [box("consent"), exit_status(ANOTHER_COPY, copy=2), exit_status(NO_CONSENT)], "unchanged"),
    "dialog-not-created": Scenario(
        ["start:no-dialog", "box", "answer:yes", *FINISH_OK],
        [box("consent"), box("dialog failed"), exit_status(DIALOG_FAILED)], "unchanged"),
    "abort-before-first-file": Scenario(
        ["start:1", "box", "answer:yes", "held", "staging", "click", "release", "box", "staging", "answer:yes",
         "exit:1"],
        [box("consent"), held("data1.arc"), staging(), abort_question(), staging(), exit_status(ABORTED)],
        "unchanged"),
    "abort-mid-staging": Scenario(
        ["start:3", "box", "answer:yes", "held", "click", "staging", "release", "box", "staging", "answer:yes",
         "exit:1"],
        [box("consent"), held("Sub\\data3.arc"), staging("data1.arc.tmp", "data2.arc.tmp"), abort_question(),
         staging("data1.arc.tmp", "data2.arc.tmp"), exit_status(ABORTED)],
        "unchanged"),
    "abort-answered-no": Scenario(
        ["start:2", "box", "answer:yes", "held", "click", "release", "box", "answer:no", *FINISH_OK],
        [box("consent"), held("data2.arc"), abort_question(), box("completed"), exit_status(OK)], "installed"),
    "close-mid-staging": Scenario(
        ["start:3", "box", "answer:yes", "held", "close", "staging", "release", "exit:1"],
        [box("consent"), held("Sub\\data3.arc"), staging("data1.arc.tmp", "data2.arc.tmp"), exit_status(CANCELLED)],
        "unchanged"),
    # The pump takes the quit message as a stop, like closing the dialog: the run ends cancelled.
    "quit-mid-staging": Scenario(
        ["start:3", "box", "answer:yes", "held", "quit", "staging", "release", "exit:1"],
        [box("consent"), held("Sub\\data3.arc"), staging("data1.arc.tmp", "data2.arc.tmp"), exit_status(CANCELLED)],
        "unchanged"),
    "check-value-mismatch": Scenario(
        consent_then(*FINISH_OK), [box("consent"), box("damaged"), exit_status(DAMAGED)], "unchanged",
        build="damaged data2.arc"),
    "uninstall-list-missing": Scenario(
        consent_then(*FINISH_OK), [box("consent"), box("uninstall list failed"), exit_status(UNINSTALL_FAILED)],
        "installed without uninstall list", prepare=lambda folder: (folder / "uninst.lst").unlink()),
    "staging-file-not-writable": Scenario(
        consent_then(*FINISH_OK), [box("consent"), box("write failed"), exit_status(WRITE_FAILED)], "unchanged",
        prepare=lambda folder: (folder / "data2.arc.tmp").mkdir()),
    "independent-packer": Scenario(
        consent_then(*FINISH_OK), [box("consent"), box("completed"), exit_status(OK)], "installed",
        build="independent"),
    "too-many-entries": Scenario(
        consent_then(*FINISH_OK), [box("consent"), box("damaged"), exit_status(TOO_MANY)], "unchanged",
        build="independent, 33 entries"),
    "signed": Scenario(
        consent_then(*FINISH_OK), [box("consent"), box("completed"), exit_status(OK)], "installed",
        build="signed"),
}


def run_scenario(name, tools):
    scenario = SCENARIOS[name]
    world = World(name, tools)
    # The registry first: the first use of the prefix creates it, drive C: included.
    world.set_registry(*{"REG_SZ": ("REG_SZ", windows_path(world.folder)),
                         "REG_EXPAND_SZ": ("REG_EXPAND_SZ", windows_path(world.folder)),
                         "too long": ("REG_SZ", "C:\\" + "v" * 300),
                         None: (None, None)}[scenario.registry])
    world.prepare_folder()
    if scenario.prepare:
        scenario.prepare(world.folder)
    if scenario.build == "patchtool":
        world.build_with_patchtool()
    elif scenario.build == "damaged data2.arc":
        world.build_with_patchtool(damage="data2.arc")
    elif scenario.build == "signed":
        world.build_with_patchtool()
        world.sign()
    elif scenario.build == "independent":
        world.build_independently()
    else:
        world.build_independently(extra_entries=33 - len(ENTRIES))
    before = snapshot(world.folder)

    lines, result = world.drive(scenario.steps)
    report = "\n  ".join(lines) or "(nothing)"
    errors = result.stderr.decode("utf-8", errors="replace").strip()
    first = next((i for i, (a, b) in enumerate(zip(lines, scenario.report)) if a != b),
                 min(len(lines), len(scenario.report)))
    check(lines == scenario.report,
          f"the driver's report differs from line {first + 1} on; it reported\n  {report}\nexpected\n  "
          + "\n  ".join(scenario.report) + (f"\nstandard error: {errors}" if errors else ""))
    check(result.returncode == 0, f"the driver ended with {result.returncode}: {errors}")

    expected = {
        "unchanged": lambda: before,
        "installed": lambda: world.installed_state(before),
        "installed without uninstall list": lambda: world.installed_state(before, uninstall_list=False),
    }[scenario.outcome]()
    actual = snapshot(world.folder)
    check(actual == expected, f"install folder not {scenario.outcome}: {describe_difference(actual, expected)}")
    shutil.rmtree(world.base, ignore_errors=True)


def use_architecture(name):
    global WINE_RUN, PREFIX, SIZES
    WINE_RUN, PREFIX = ARCHITECTURES[name][0], pathlib.Path(ARCHITECTURES[name][1])
    if name == "win32":
        SIZES = SMALL_SIZES


def main(argv):
    if argv[1:] == ["--list"]:
        print(";".join(SCENARIOS))
        return 0
    tools, rest, architecture = {}, argv[1:], "win64"
    while len(rest) >= 2 and rest[0] in ("--setup", "--driver", "--patchtool", "--arch"):
        if rest[0] == "--arch":
            architecture = rest[1]
        else:
            tools[rest[0][2:]] = os.path.abspath(rest[1])
        rest = rest[2:]
    if len(tools) != 3 or len(rest) != 1 or rest[0] not in SCENARIOS or architecture not in ARCHITECTURES:
        print(__doc__.strip())
        return 0 if argv[1:] in (["-h"], ["--help"]) else 2
    missing = [path for path in tools.values() if not os.path.isfile(path)]
    if missing:
        print(f"FAILED {rest[0]}: not built: {', '.join(missing)} (the native patchtool comes from the native preset)")
        return 1
    use_architecture(architecture)
    try:
        run_scenario(rest[0], tools)
    except (Failure, subprocess.TimeoutExpired) as failure:
        print(f"FAILED {rest[0]}: {failure}")
        return 1
    print(f"passed {rest[0]}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
