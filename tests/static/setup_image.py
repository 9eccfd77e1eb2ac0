"""What setup.exe itself must be, beyond what every Windows image of the project is checked for: a
GUI program whose image ends before the payload offset, that imports only libraries the platform
always takes from the system folder, that carries its texts byte for byte, and whose resources
(manifest, icons, version, dialog) decode to exactly the designed values."""
import struct
import xml.etree.ElementTree as ElementTree

import pefile

import setup_texts

PAYLOAD_OFFSET = 0x60000
# The shipping build is the 32-bit one; it is kept within this budget so that a patch carries as
# little updater as it can.
SHIPPING_MACHINE = 0x14C
SHIPPING_SIZE_BUDGET = 128 * 1024
GUI_SUBSYSTEM = 2
# Libraries Windows always loads from its system folder (known DLLs): a copy planted beside the
# updater is never taken instead.
SYSTEM_LIBRARIES = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll", "shell32.dll",
                    "ole32.dll"}

JAPANESE, ENGLISH_US = 0x0411, 0x0409
RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 14, 16, 24
EXPECTED_RESOURCES = sorted([(RT_ICON, i, JAPANESE) for i in (1, 2, 3, 4)] + [
    (RT_DIALOG, 102, JAPANESE), (RT_GROUP_ICON, 101, JAPANESE), (RT_VERSION, 1, JAPANESE),
    (RT_MANIFEST, 1, ENGLISH_US)])

ICON_SIZES = (256, 48, 32, 16)

MANIFEST_ARCHITECTURE = {0x14C: "X86", 0x8664: "amd64"}
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Windows Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10
}

EXPECTED_FIXED_VERSION = {
    "signature": 0xFEEF04BD, "file version": (1, 0, 0, 0), "product version": (1, 0, 0, 0),
    "flags mask": 0x3F, "flags": 0, "os": 0x00040004, "type": 1, "subtype": 0, "date": (0, 0),
}
EXPECTED_STRINGS = {"041104B0": {"CompanyName": "Halvorn", "FileVersion": "1, 0, 0, 0", "ProductVersion": "1.0.0.0"}}
EXPECTED_TRANSLATION = [JAPANESE, 0x04B0]


# ---- resources

def resources(pe):
    """{(type, id, language): bytes} of every resource."""
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    found = {}
    for kind in getattr(getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None), "entries", []):
        for name in kind.directory.entries:
            for language in name.directory.entries:
                key = (kind.id, name.id if name.id is not None else str(name.name), language.id)
                found[key] = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
    return found


def manifest_checks(data, machine):
    namespaces = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
                  "compat": "urn:schemas-microsoft-com:compatibility.v1"}
    try:
        root = ElementTree.fromstring(data)
    except ElementTree.ParseError as error:
        yield "manifest", False, f"not XML: {error}"
        return
    identity = root.find("v1:assemblyIdentity", namespaces)
    expected = {"version": "1.0.0.0", "processorArchitecture": MANIFEST_ARCHITECTURE[machine], "name": "Setup",
                "type": "win32"}
    actual = dict(identity.attrib) if identity is not None else {}
    yield "manifest identity", actual == expected, str(actual)
    levels = [element.get("level") for element in root.iter("{%s}requestedExecutionLevel" % namespaces["v3"])]
    yield "manifest requireAdministrator", levels == ["requireAdministrator"], str(levels)
    systems = [element.get("Id") for element in root.iter("{%s}supportedOS" % namespaces["compat"])]
    yield "manifest supported systems", sorted(systems) == sorted(SUPPORTED_OS), f"{len(systems)} identifiers"
    names = {element.tag.split("}")[-1] for element in root.iter()}
    unwanted = names & {"dependency", "dependentAssembly", "dpiAware", "dpiAwareness"}
    yield "manifest without common controls 6 and DPI awareness", not unwanted, ", ".join(sorted(unwanted)) or "none"


def icon_image_size(data):
    """(width, height, bits per pixel) of one icon image, PNG or bitmap."""
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        width, height, depth, colour = struct.unpack_from(">IIBB", data, 16)
        return width, height, depth * 4 if colour == 6 else 0
    size, width, height, _, bits = struct.unpack_from("<IiiHH", data, 0)
    return (width, height // 2, bits) if size == 40 else (0, 0, 0)


def icon_checks(found):
    group = found.get((RT_GROUP_ICON, 101, JAPANESE))
    if group is None:
        yield "icon group 101", False, "missing"
        return
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
    sizes = tuple(256 if width == 0 else width for width, *_ in entries)
    yield "icon group 101 header", (reserved, kind, count) == (0, 1, 4), f"{count} images"
    yield "icon group 101 sizes", sizes == ICON_SIZES, str(sizes)
    for index, (width, height, colours, _, planes, bits, length, icon_id) in enumerate(entries):
        size = ICON_SIZES[index] if index < len(ICON_SIZES) else 0
        image = found.get((RT_ICON, icon_id, JAPANESE), b"")
        problems = []
        if icon_id != index + 1:
            problems.append(f"id {icon_id}")
        if (width, height, colours, planes, bits) != (size % 256, size % 256, 0, 1, 32):
            problems.append(f"entry {width}x{height}, {colours} colours, {planes} planes, {bits} bits")
        if length != len(image):
            problems.append(f"entry says {length} bytes, icon {icon_id} has {len(image)}")
        if icon_image_size(image) != (size, size, 32):
            problems.append(f"image {icon_image_size(image)}")
        yield f"icon {index + 1} ({size} px, 32 bits)", not problems, "; ".join(problems) or f"{len(image)} bytes"


class VersionBlock:
    """One node of a version resource: key, value bytes, text flag and children."""

    def __init__(self, data, offset):
        length, value_length, self.is_text = struct.unpack_from("<HHH", data, offset)
        end = offset + length
        key_end = offset + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        self.key = data[offset + 6:key_end].decode("utf-16-le")
        position = (key_end + 2 + 3) & ~3
        value_bytes = value_length * 2 if self.is_text else value_length
        self.value = data[position:position + value_bytes]
        position = (position + value_bytes + 3) & ~3
        self.children = []
        while position < end:
            child = VersionBlock(data, position)
            self.children.append(child)
            position = (position + child.length + 3) & ~3
        self.length = length

    def child(self, key):
        return next((child for child in self.children if child.key == key), None)

    def text(self):
        return self.value.decode("utf-16-le").rstrip("\0")


def version_checks(found):
    data = found.get((RT_VERSION, 1, JAPANESE))
    if data is None:
        yield "version resource", False, "missing"
        return
    root = VersionBlock(data, 0)
    yield "version resource key", root.key == "VS_VERSION_INFO", root.key
    words = struct.unpack_from("<13I", root.value.ljust(52, b"\0"), 0)
    fixed = {
        "signature": words[0],
        "file version": (words[2] >> 16, words[2] & 0xFFFF, words[3] >> 16, words[3] & 0xFFFF),
        "product version": (words[4] >> 16, words[4] & 0xFFFF, words[5] >> 16, words[5] & 0xFFFF),
        "flags mask": words[6], "flags": words[7], "os": words[8], "type": words[9], "subtype": words[10],
        "date": (words[11], words[12]),
    }
    wrong = [f"{name} {fixed[name]!r} (expected {value!r})" for name, value in EXPECTED_FIXED_VERSION.items()
             if fixed[name] != value]
    yield "version fixed part", len(root.value) == 52 and not wrong, "; ".join(wrong) or "13 fields"
    string_info = root.child("StringFileInfo")
    tables = {table.key: {entry.key: entry.text() for entry in table.children}
              for table in (string_info.children if string_info else [])}
    yield "version strings", tables == EXPECTED_STRINGS, str(tables)
    var_info = root.child("VarFileInfo")
    translation = var_info.child("Translation") if var_info else None
    pairs = list(struct.unpack(f"<{len(translation.value) // 2}H", translation.value)) if translation else []
    yield "version translation", pairs == EXPECTED_TRANSLATION, ", ".join(f"0x{p:04X}" for p in pairs)


# ---- the image

def import_checks(pe):
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
                                           pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]])
    names = [entry.dll.decode("ascii", "replace").lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    others = [name for name in names if name not in SYSTEM_LIBRARIES]
    yield "imports only system libraries", not others, ", ".join(others or names)
    delayed = [entry.dll.decode("ascii", "replace") for entry in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
    yield "no delay-loaded imports", not delayed, ", ".join(delayed) or "none"


def dll_search_check(data):
    # Looked up at run time, so it shows only as the name the program asks the system for.
    name = b"SetDefaultDllDirectories\0"
    yield "later DLL loads restricted to the system folder", name in data, "SetDefaultDllDirectories"


def text_checks(data):
    for name in setup_texts.MESSAGES:
        expected = setup_texts.message_bytes(name)
        padded = name not in setup_texts.PADDED_TO_26 or len(expected) == 52
        yield f"text '{name}'", padded and expected + b"\0" in data, f"{len(expected)} bytes"
    title = setup_texts.title_bytes()
    yield "window title", title + b"\0" in data, f"{len(title)} bytes"
    suffix = setup_texts.LABEL_SUFFIX.encode("cp932")
    yield "file label text", suffix in data, f"{len(suffix)} bytes"


def checks_for(path, machine):
    data = path.read_bytes()
    pe = pefile.PE(data=data, fast_load=True)
    yield "GUI subsystem", pe.OPTIONAL_HEADER.Subsystem == GUI_SUBSYSTEM, str(pe.OPTIONAL_HEADER.Subsystem)
    sections_end = max(s.PointerToRawData + s.SizeOfRawData for s in pe.sections)
    yield ("image ends before the payload", len(data) < PAYLOAD_OFFSET and sections_end <= len(data),
           f"{len(data)} bytes (0x{len(data):X}), {PAYLOAD_OFFSET - len(data)} to spare")
    if machine == SHIPPING_MACHINE:
        yield ("shipping image within its size budget", len(data) <= SHIPPING_SIZE_BUDGET,
               f"{len(data)} bytes of {SHIPPING_SIZE_BUDGET}")
    yield from import_checks(pe)
    yield from dll_search_check(data)
    yield from text_checks(data)
    found = resources(pe)
    actual = sorted(found)
    yield ("resources", actual == EXPECTED_RESOURCES,
           ", ".join(f"{kind}/{name}/0x{language:04X}" for kind, name, language in actual))
    manifest = found.get((RT_MANIFEST, 1, ENGLISH_US))
    if manifest is None:
        yield "manifest", False, "missing"
    else:
        yield from manifest_checks(manifest, machine)
    yield from icon_checks(found)
    yield from version_checks(found)
