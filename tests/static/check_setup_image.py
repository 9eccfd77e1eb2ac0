#!/usr/bin/python3
"""Static checks of setup.exe, above all of the shipping i686 build, which never runs natively here:
check_setup_image.py BUILD_DIR MACHINE (0x14c for i686, 0x8664 for x86_64) prints one line per check and
'N passed, M failed'. The texts are also those the end-to-end scenarios expect, written as Unicode and
turned into code page 932 by Python's codec, not by the code under test."""
import pathlib
import struct
import sys

import pefile  # Debian's python3-pefile, of /usr/bin/python3

TITLE = "「Vennholt」 更新パッチ ver 1.01"
# The message texts, most filled out with ideographic spaces (U+3000) to 26 characters.
MESSAGES = {
    "engine-running": "ゲーム、ランチャー、アンインストーラーのいずれかが実行中なのでアップデートを行えません",
    "not-installed": "ゲームがインストールされていません" + "\u3000" * 9,
    "consent": "アップデートを行いますか？" + "\u3000" * 13,
    "dialog-failed": "ダイアログの起動に失敗しました。" + "\u3000" * 10,
    "completed": "アップデートが完了しました" + "\u3000" * 13,
    "damaged": "アップデートプログラムが破損している可能性があります",
    "write-failed": "何らかの要因によりアップデートが行えません" + "\u3000" * 5,
    "uninstall-failed": "アンインストレーションファイルの更新に失敗しました" + "\u3000" * 1,
    "abort": "アップデートを中止しますか？" + "\u3000" * 12,
}
LABEL_SUFFIX = "をインストール中"


PAYLOAD_OFFSET, SHIPPING_MACHINE, SHIPPING_BUDGET = 0x60000, 0x14C, 128 * 1024
# Known DLLs, never taken from a copy planted beside the updater: the runtimes are linked in (no MinGW
# DLL), and comctl32 is loaded from the system folder by the program itself.
SYSTEM_LIBRARIES = {f"{name}.dll" for name in ("kernel32", "user32", "gdi32", "advapi32", "msvcrt", "shell32", "ole32", "ntdll")}
JAPANESE, ENGLISH_US = 0x0411, 0x0409
RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 14, 16, 24
ICON_SIZES = (256, 48, 32, 16)
EXPECTED_RESOURCES = sorted([(RT_ICON, i + 1, JAPANESE) for i in range(len(ICON_SIZES))] + [(RT_DIALOG, 102, JAPANESE),
                            (RT_GROUP_ICON, 101, JAPANESE), (RT_VERSION, 1, JAPANESE), (RT_MANIFEST, 1, ENGLISH_US)])
MANIFEST_ARCHITECTURE = {0x14C: "X86", 0x8664: "amd64"}
# VS_FIXEDFILEINFO: file and product version 1.0.0.0, VOS_NT_WINDOWS32, VFT_APP, no flags, no date.
FIXED_VERSION = (0xFEEF04BD, 0x10000, 0x10000, 0, 0x10000, 0, 0x3F, 0, 0x40004, 1, 0, 0, 0)
VERSION_STRINGS = ["041104B0", "CompanyName", "Halvorn", "FileVersion", "1, 0, 0, 0", "ProductVersion", "1.0.0.0"]
# Dialog 102's controls: extended style, style, x, y, width, height, id, class, text.
DIALOG_CONTROLS = [
    (0, 0x50010000, 110, 88, 51, 14, 1000, 0x0080, "中止"),  # the abort button, the first tab stop
    (0x00020000, 0x50020201, 7, 7, 257, 14, 1001, 0x0082, ""),  # the file label
    (0, 0x50800001, 7, 33, 257, 16, 1002, "msctls_progress32", ""),  # the file bar
    (0, 0x50800001, 7, 59, 257, 16, 1003, "msctls_progress32", ""),  # the overall bar
]


def dialog_template():
    """Dialog 102, extended template: WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT (no system menu),
    271 x 109 units, no menu, class or caption, 9-point MS UI Gothic (Shift JIS) and its controls."""
    text = lambda value: value.encode("utf-16-le") + b"\0\0"  # noqa: E731
    data = struct.pack("<HHIIIHhhhh", 1, 0xFFFF, 0, 0, 0x80C000C0, len(DIALOG_CONTROLS), 0, 0, 271, 109) + bytes(6)
    data += struct.pack("<HHBB", 9, 400, 0, 128) + text("MS UI Gothic")
    for extended, style, x, y, width, height, control, kind, caption in DIALOG_CONTROLS:
        data += bytes(-len(data) % 4) + struct.pack("<IIIhhhhI", 0, extended, style, x, y, width, height, control)
        data += (struct.pack("<HH", 0xFFFF, kind) if isinstance(kind, int) else text(kind)) + text(caption) + bytes(2)
    return data


def resources(pe):
    """{(type, id, language): bytes} of every resource."""
    return {(kind.id, name.id, language.id): pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
            for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries for name in kind.directory.entries
            for language in name.directory.entries}


def checks(data, machine):
    pe = pefile.PE(data=data, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
                                           pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    yield "machine", pe.FILE_HEADER.Machine == machine, f"0x{pe.FILE_HEADER.Machine:x}"
    yield "GUI subsystem", pe.OPTIONAL_HEADER.Subsystem == 2, str(pe.OPTIONAL_HEADER.Subsystem)
    limit = SHIPPING_BUDGET + 1 if machine == SHIPPING_MACHINE else PAYLOAD_OFFSET
    yield "image size", len(data) < limit, f"{len(data)} bytes, below {limit}"
    imports = [entry.dll.decode("ascii", "replace").lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    yield "imports only system libraries", set(imports) <= SYSTEM_LIBRARIES, ", ".join(imports)
    # Looked up at run time, so it shows only as the name the program asks the system for.
    yield "later DLL loads from the system folder", b"SetDefaultDllDirectories\0" in data, "SetDefaultDllDirectories"
    texts = {name: text.encode("cp932") + b"\0" for name, text in MESSAGES.items()}
    texts.update({"window title": TITLE.encode("cp932") + b"\0", "file label": LABEL_SUFFIX.encode("cp932")})
    for name, text in texts.items():
        yield f"text '{name}'", text in data, f"{len(text)} bytes"

    found = resources(pe)
    yield "resources", sorted(found) == EXPECTED_RESOURCES, ", ".join(f"{t}/{n}/0x{l:04X}" for t, n, l in sorted(found))
    manifest = found.get((RT_MANIFEST, 1, ENGLISH_US), b"")
    wanted = [b'level="requireAdministrator"', f'processorArchitecture="{MANIFEST_ARCHITECTURE[machine]}"'.encode()]
    # Without a dependency on common controls 6 (the classic controls are the designed look).
    yield "manifest", all(w in manifest for w in wanted) and b"<dependency" not in manifest, f"{len(manifest)} bytes"

    icons = [found.get((RT_ICON, i + 1, JAPANESE), b"") for i in range(len(ICON_SIZES))]
    group = struct.pack("<HHH", 0, 1, len(ICON_SIZES)) + b"".join(
        struct.pack("<BBBBHHIH", size % 256, size % 256, 0, 0, 1, 32, len(icon), i + 1)
        for i, (size, icon) in enumerate(zip(ICON_SIZES, icons)))
    yield "icon group 101", found.get((RT_GROUP_ICON, 101, JAPANESE)) == group, f"{len(ICON_SIZES)} 32-bit images"

    version = found.get((RT_VERSION, 1, JAPANESE), b"")
    at = version.find(struct.pack("<I", FIXED_VERSION[0]))
    fixed = struct.unpack_from("<13I", version, at) if 0 <= at <= len(version) - 52 else ()
    strings = [text.encode("utf-16-le") + b"\0\0" for text in VERSION_STRINGS] + [struct.pack("<HH", JAPANESE, 0x04B0)]
    yield "version", fixed == FIXED_VERSION and all(s in version for s in strings), str([hex(word) for word in fixed])

    dialog, expected = found.get((RT_DIALOG, 102, JAPANESE), b""), dialog_template()
    differs = next((i for i, (a, b) in enumerate(zip(dialog, expected)) if a != b), min(len(dialog), len(expected)))
    yield ("dialog 102 as designed", dialog[:len(expected)] == expected and len(dialog) - len(expected) <= 3,
           f"{len(dialog)} bytes, {len(expected)} expected, first difference at {differs}")


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip())
        return 2
    setup = pathlib.Path(argv[1]) / "setup.exe"
    results = list(checks(setup.read_bytes(), int(argv[2], 0))) if setup.is_file() else [("present", False, "")]
    for name, ok, detail in results:
        print(f"{'ok  ' if ok else 'FAIL'} {setup}: {name} ({detail})")
    failed = sum(not ok for _, ok, _ in results)
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
