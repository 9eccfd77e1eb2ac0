#include "engine/payload_archive.h"

#include <cstring>
#include <new>

#include "engine/code_page.h"
#include "engine/file_handle.h"
#include "engine/little_endian.h"

UpdateResult PayloadArchive::open(FileHandle& executable) {
    if (!executable.isOpen() || executable.size() < payloadOffset) return PayloadDamaged;
    uint8_t header[archiveHeaderSize];
    if (!executable.seek(payloadOffset) || executable.read(header, sizeof header) < sizeof header) {
        return PayloadDamaged;
    }
    const uint32_t entries = readU32(header + 12);
    if (entries > maxArchiveEntries) return TooManyEntries;

    const ArchiveLayout found =
        std::memcmp(header, archiveMagic, sizeof archiveMagic) == 0 ? ArchiveLayout::Current : ArchiveLayout::Legacy;
    const ArchiveLayoutInfo info = layoutInfo(found);
    const uint32_t indexBytes = entries * info.entrySize;  // at most 4,096
    uint8_t raw[maxArchiveEntries * currentLayoutInfo.entrySize];
    if (indexBytes > 0 && executable.read(raw, indexBytes) < indexBytes) return PayloadDamaged;

    index.reset(entries > 0 ? new (std::nothrow) IndexRecord[entries] : nullptr);
    if (entries > 0 && !index) return FileWriteFailed;  // out of memory, as for the run's own buffers
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* field = raw + i * info.entrySize;
        IndexRecord& record = index[i];
        std::memcpy(record.name, field, info.nameField);
        record.name[info.nameField] = '\0';
        record.offset = readU32(field + info.nameField);
        record.size = readU32(field + info.nameField + 4);
    }
    layout = found;
    count = entries;
    base = payloadOffset + archiveHeaderSize + indexBytes;
    return Ok;
}

ArchiveEntry PayloadArchive::entry(uint32_t i) const { return {index[i].name, index[i].offset, index[i].size}; }

uint32_t PayloadArchive::dataPosition(uint32_t i) const { return base + index[i].offset; }

bool PayloadArchive::isEntryReachable(uint32_t i) const {
    const uint64_t first = static_cast<uint64_t>(base) + index[i].offset;
    return first <= 0xFFFFFFFFull && first + index[i].size <= 0x100000000ull;
}

std::optional<uint32_t> PayloadArchive::findEntry(const char* lowerKey, const CodePage& codePage) const {
    for (uint32_t i = 0; i < count; ++i) {
        if (nameEqualsLowerKey(index[i].name, lowerKey, codePage)) return i;
    }
    return std::nullopt;
}
