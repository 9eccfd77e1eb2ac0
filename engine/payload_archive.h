#pragma once
// The payload archive appended to the updater at file offset 0x60000: a 16-byte header (12-byte
// magic, u32 entry count), an index of at most 32 entries, and the entries' bytes from the data
// base on. The magic "PELMAR ARC20" selects the current layout with 128-byte index entries (96-byte
// name, offset, size, 24 bytes not interpreted); any other 12 bytes select the legacy layout with
// 32-byte entries (16-byte name, offset, size, 8 bytes not interpreted).

#include <cstdint>
#include <memory>
#include <optional>

#include "engine/code_page.h"
#include "engine/update_result.h"

class FileHandle;

inline constexpr uint32_t payloadOffset = 0x60000;
inline constexpr uint32_t archiveHeaderSize = 16;
inline constexpr uint32_t maxArchiveEntries = 32;
inline constexpr char archiveMagic[12] = {'P', 'E', 'L', 'M', 'A', 'R', ' ', 'A', 'R', 'C', '2', '0'};

enum class ArchiveLayout : uint8_t { Current, Legacy };

struct ArchiveLayoutInfo {
    uint32_t entrySize;  // bytes per index entry
    uint32_t nameField;  // bytes of the name field, NUL included
};
inline constexpr ArchiveLayoutInfo currentLayoutInfo{128, 96};
inline constexpr ArchiveLayoutInfo legacyLayoutInfo{32, 16};
inline constexpr ArchiveLayoutInfo layoutInfo(ArchiveLayout layout) {
    return layout == ArchiveLayout::Current ? currentLayoutInfo : legacyLayoutInfo;
}

// One index entry: its name (NUL-terminated; a name that fills its whole field is cut at the end
// of the field), and its offset relative to the data base and its size.
struct ArchiveEntry {
    const char* name;
    uint32_t offset;
    uint32_t size;
};

struct PayloadArchive {
    // Reads the header and the index through the updater's own executable: Ok, PayloadDamaged (not
    // open, shorter than 0x60000 bytes, short header or index), TooManyEntries (count above 32,
    // tested before the magic) or FileWriteFailed (no memory for the index, as for the run's other
    // buffers).
    UpdateResult open(FileHandle& executable);

    uint32_t entryCount() const { return count; }
    // Entry i, 0 <= i < entryCount(), in index order.
    ArchiveEntry entry(uint32_t i) const;
    // 0x60010 + count * entry size.
    uint32_t dataBase() const { return base; }
    // Absolute file position of entry i's first byte: data base + offset, in 32-bit arithmetic.
    uint32_t dataPosition(uint32_t i) const;
    // False when a damaged index puts entry i's first byte or its end beyond 2^32, where the
    // 32-bit data position wraps round and would name other bytes of the file.
    bool isEntryReachable(uint32_t i) const;
    // Index position of the first entry whose name, lower-cased by the rules of `codePage`, equals
    // `lowerKey` byte for byte.
    std::optional<uint32_t> findEntry(const char* lowerKey, const CodePage& codePage = systemCodePage) const;

    ArchiveLayout layout = ArchiveLayout::Current;
    uint32_t count = 0;
    uint32_t base = 0;
    // The index, widened to one fixed record per entry whatever the layout.
    struct IndexRecord {
        char name[97];  // room for a 96-byte field plus a terminating NUL
        uint32_t offset;
        uint32_t size;
    };
    std::unique_ptr<IndexRecord[]> index;
};
