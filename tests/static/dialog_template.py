"""The progress dialog's template (dialog 102) as it must appear in every Windows image that carries
it: decoded from the image's resources and compared field by field with the expected values."""
import struct

import pefile

DIALOG_ID = 102
LANGUAGE = 0x0411  # Japanese (Japan)

# An absent menu or class and an empty text are all stored as the single word 0: shown as "".
EXPECTED_HEADER = {
    "version": 1, "signature": 0xFFFF, "help id": 0, "extended style": 0,
    "style": 0x80C000C0,  # WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT
    "controls": 4, "x": 0, "y": 0, "width": 271, "height": 109,
    "menu": "", "class": "", "caption": "",
    "point size": 9, "weight": 400, "italic": 0, "character set": 128, "typeface": "MS UI Gothic",
}
EXPECTED_CONTROLS = [
    {"help id": 0, "extended style": 0, "style": 0x50010000, "x": 110, "y": 88, "width": 51, "height": 14,
     "id": 1000, "class": 0x0080, "text": "中止", "creation data": 0},
    {"help id": 0, "extended style": 0x00020000, "style": 0x50020201, "x": 7, "y": 7, "width": 257, "height": 14,
     "id": 1001, "class": 0x0082, "text": "", "creation data": 0},
    {"help id": 0, "extended style": 0, "style": 0x50800001, "x": 7, "y": 33, "width": 257, "height": 16,
     "id": 1002, "class": "msctls_progress32", "text": "", "creation data": 0},
    {"help id": 0, "extended style": 0, "style": 0x50800001, "x": 7, "y": 59, "width": 257, "height": 16,
     "id": 1003, "class": "msctls_progress32", "text": "", "creation data": 0},
]


class Reader:
    """Little-endian fields of a template, in order."""

    def __init__(self, data):
        self.data, self.offset = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.offset)
        self.offset += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.offset
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.offset:end].decode("utf-16-le")
        self.offset = end + 2
        return value

    def name_or_ordinal(self):
        first = self.take("H")
        if first == 0x0000:
            return ""
        if first == 0xFFFF:
            return self.take("H")
        self.offset -= 2
        return self.text()

    def align(self):
        self.offset = (self.offset + 3) & ~3


def decode(data):
    """The header's fields and each control's fields, by the names of the expected tables."""
    r = Reader(data)
    header = dict(zip(("version", "signature", "help id", "extended style", "style", "controls",
                       "x", "y", "width", "height"), r.take("HHIIIHhhhh")))
    header["menu"], header["class"], header["caption"] = r.name_or_ordinal(), r.name_or_ordinal(), r.text()
    if header["style"] & 0x40:  # DS_SETFONT
        header.update(zip(("point size", "weight", "italic", "character set"), r.take("HHBB")))
        header["typeface"] = r.text()
    controls = []
    for _ in range(header["controls"]):
        r.align()
        control = dict(zip(("help id", "extended style", "style", "x", "y", "width", "height", "id"),
                           r.take("IIIhhhhI")))
        control["class"], control["text"] = r.name_or_ordinal(), r.name_or_ordinal()
        control["creation data"] = r.take("H")
        r.offset += control["creation data"]
        controls.append(control)
    return header, controls, len(data) - r.offset


def show(name, value):
    return f"0x{value:X}" if isinstance(value, int) and ("style" in name or name == "signature") else repr(value)


def differences(actual, expected):
    return [f"{name} {show(name, actual.get(name))} (expected {show(name, value)})"
            for name, value in expected.items() if actual.get(name) != value]


def dialog_entries(pe):
    """(language, data) of every resource of type dialog with id 102."""
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    found = []
    for kind in getattr(getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None), "entries", []):
        if kind.id != pefile.RESOURCE_TYPE["RT_DIALOG"]:
            continue
        for name in kind.directory.entries:
            if name.id == DIALOG_ID:
                for language in name.directory.entries:
                    found.append((language.id, pe.get_data(language.data.struct.OffsetToData,
                                                           language.data.struct.Size)))
    return found


def checks_for(pe):
    """(name, ok, detail) for the dialog of one image; nothing when the image has no dialog 102."""
    entries = dialog_entries(pe)
    if not entries:
        return
    languages = [language for language, _ in entries]
    yield "dialog 102 language", languages == [LANGUAGE], ", ".join(f"0x{l:04X}" for l in languages)
    try:
        header, controls, trailing = decode(entries[0][1])
    except (struct.error, UnicodeDecodeError) as error:
        yield "dialog 102 template", False, f"cannot be decoded: {error}"
        return
    wrong = differences(header, EXPECTED_HEADER)
    yield "dialog 102 header", not wrong, "; ".join(wrong) or f"{len(EXPECTED_HEADER)} fields"
    for index, expected in enumerate(EXPECTED_CONTROLS):
        name = f"dialog 102 control {expected['id']}"
        if index >= len(controls):
            yield name, False, "missing"
            continue
        wrong = differences(controls[index], expected)
        yield name, not wrong, "; ".join(wrong) or f"{len(expected)} fields"
    yield "dialog 102 ends with its controls", trailing <= 3, f"{trailing} bytes after the last control"
