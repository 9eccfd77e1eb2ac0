"""The patch's formats written and read from their layouts alone, independently of the C++ code, and
snapshots of install folders to compare. Shared by every Python test and by the fuzz seed generator."""
import os
import pathlib
import struct

PAYLOAD_OFFSET = 0x60000
MAGIC = b"PELMAR ARC20"
LAYOUTS = {"current": (128, 96), "legacy": (32, 16)}  # index entry size, name field size
VERSIONS = {"v2": (b"QTS_V2__", 256, 248), "v1": (b"QTS_____", 64, 56)}  # magic, record size, name field


def check_value(data):
    """hash = hash * 233 + byte (32 bits), then sum and xor of its low byte and of the bytes."""
    hash_value = low_sum = low_xor = data_sum = data_xor = 0
    for d in data:
        hash_value = (hash_value * 233 + d) & 0xFFFFFFFF
        low = hash_value & 0xFF
        low_sum, low_xor = (low_sum + low) & 0xFF, low_xor ^ low
        data_sum, data_xor = (data_sum + d) & 0xFF, data_xor ^ d
    return struct.pack("<IBBBB", hash_value, low_sum, low_xor, data_sum, data_xor)


def field(name, size):
    """A name field: the bytes (cp932 for a str), cut to the field and padded with zero bytes."""
    raw = name.encode("cp932") if isinstance(name, str) else name
    return raw[:size].ljust(size, b"\0")


def archive(entries, layout="current", magic=None, count=None, positions=None):
    """A payload archive of (name, bytes) entries stored back to back; `positions` replaces (offset, size)."""
    entry_size, name_size = LAYOUTS[layout]
    magic = magic if magic is not None else MAGIC if layout == "current" else b"PELMAR ARC10"
    index, data = b"", b""
    for i, (name, content) in enumerate(entries):
        offset, size = positions[i] if positions else (len(data), len(content))
        index += field(name, name_size) + struct.pack("<II", offset, size) + bytes(entry_size - name_size - 8)
        data += content
    return magic + struct.pack("<I", len(entries) if count is None else count) + index + data


def patch(entries, stub=b"MZ", **options):
    """A whole patch: the stub padded with zero bytes to 0x60000, then the archive."""
    assert len(stub) <= PAYLOAD_OFFSET
    return stub + bytes(PAYLOAD_OFFSET - len(stub)) + archive(entries, **options)


def version_list(records, version="v2", word=0, count=None, tail=b""):
    """A version list of (name, 8-byte check value) records; names as in field()."""
    magic, record_size, name_size = VERSIONS[version]
    body = b"".join(field(name, name_size) + value for name, value in records)
    return magic + struct.pack("<II", word, len(records) if count is None else count) + body + tail


def read_version_list(data):
    """(version, header word, [(name bytes, check value)]) of a complete list file."""
    version = {magic: key for key, (magic, _, _) in VERSIONS.items()}[data[:8]]
    _, record_size, name_size = VERSIONS[version]
    word, count = struct.unpack_from("<II", data, 8)
    assert len(data) == 16 + count * record_size, f"{len(data)} bytes for {count} records"
    records = [data[16 + i * record_size:16 + (i + 1) * record_size] for i in range(count)]
    return version, word, [(r[:name_size].split(b"\0", 1)[0], r[name_size:]) for r in records]


def folder_state(folder):
    """{relative path with "/": bytes, or None for a folder or a name with no bytes behind it} below `folder`."""
    state = {}
    for root, folders, files in os.walk(folder):
        for name in folders + files:
            path = pathlib.Path(root, name)
            state[path.relative_to(folder).as_posix()] = path.read_bytes() if name in files and path.is_file() else None
    return state


def write_folder(folder, state):
    """Creates the files (bytes) and folders (None) of a folder state below `folder`."""
    for key, content in sorted(state.items()):
        path = os.path.join(folder, *key.split("/"))
        os.makedirs(path if content is None else os.path.dirname(path), exist_ok=True)
        if content is not None:
            with open(path, "wb") as file:
                file.write(content)


def difference(actual, expected):
    """How two folder states differ, in a line; empty when they are equal."""
    return "; ".join(f"{'missing' if key not in actual else 'unexpected' if key not in expected else 'different'} "
                     f"{key}" for key in sorted(set(actual) | set(expected)) if actual.get(key, 0) != expected.get(key, 0))
