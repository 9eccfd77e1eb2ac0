#!/usr/bin/python3
"""Static checks of the Windows builds, for the build that is never run here.

    check_pe.py BUILD_DIR MACHINE

Every .exe under BUILD_DIR must be a PE image for MACHINE (0x14c for i686, 0x8664 for x86_64)
and must not import a MinGW runtime DLL: the C and C++ runtimes are linked in statically, so the
program runs on a player's machine with nothing but the system DLLs. Nor may it import comctl32.dll,
which an elevated program would otherwise look for first in its own, possibly writable folder; the
program loads it from the system folder itself. Every image that carries the progress dialog
(dialog 102) must carry it exactly as designed, and at least one image must carry it.

BUILD_DIR/setup.exe, the updater, must exist and is checked further (setup_image.py): GUI
subsystem, image ending before the payload offset 0x60000, imports, texts and every resource.
Prints one line per check and a closing 'N passed, M failed'; exits 1 when anything failed or
nothing was checked.
"""
import pathlib
import sys

import pefile

import dialog_template
import setup_image

MINGW_RUNTIME_PREFIXES = ("libstdc++", "libgcc", "libwinpthread", "libssp", "libatomic")


def import_names(pe):
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    return [entry.dll.decode("ascii", "replace").lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]


def checks_for(path, machine):
    pe = pefile.PE(str(path), fast_load=True)
    yield "machine", pe.FILE_HEADER.Machine == machine, f"0x{pe.FILE_HEADER.Machine:x}"
    runtime = [name for name in import_names(pe) if name.startswith(MINGW_RUNTIME_PREFIXES)]
    yield "static runtime", not runtime, ", ".join(runtime) or "no MinGW DLL imported"
    comctl32 = "comctl32.dll" in import_names(pe)
    yield "comctl32 not imported", not comctl32, "imported" if comctl32 else "not in the import table"
    yield from dialog_template.checks_for(pe)


def main(argv):
    if len(argv) != 3 or argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if len(argv) == 2 else 2
    build_dir, machine = pathlib.Path(argv[1]), int(argv[2], 0)
    passed = failed = 0
    dialogs = []
    for path in sorted(build_dir.rglob("*.exe")):
        if "wineprefix" in path.parts or "CMakeFiles" in path.parts:
            continue
        for name, ok, detail in checks_for(path, machine):
            print(f"{'ok  ' if ok else 'FAIL'} {path.relative_to(build_dir)}: {name} ({detail})")
            passed, failed = passed + ok, failed + (not ok)
            if name == "dialog 102 header":
                dialogs.append(str(path.relative_to(build_dir)))
    ok = bool(dialogs)
    print(f"{'ok  ' if ok else 'FAIL'} dialog 102 carried ({', '.join(dialogs) or 'by no image'})")
    passed, failed = passed + ok, failed + (not ok)
    setup = build_dir / "setup.exe"
    results = list(setup_image.checks_for(setup, machine)) if setup.is_file() else [("present", False, "missing")]
    for name, ok, detail in results:
        print(f"{'ok  ' if ok else 'FAIL'} setup.exe: {name} ({detail})")
        passed, failed = passed + ok, failed + (not ok)
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
