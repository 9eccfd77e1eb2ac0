#pragma once
// Writes payload archives and whole patch images, for patchtool and the tests.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/payload_archive.h"

struct PayloadEntrySource {
    std::string name;  // code page 932 bytes, installed under this name
    std::vector<uint8_t> bytes;
};

// Header, index and data of an archive: entries back to back from offset 0, in the given order.
// The current layout writes the magic "PELMAR ARC20"; the legacy layout writes `legacyMagic`.
// Nothing when a name does not fit its field (95 or 15 bytes) or the data pass 4 GiB. More than 32
// entries are written as asked, so that damaged archives can be made too.
std::optional<std::vector<uint8_t>> makePayloadArchive(const std::vector<PayloadEntrySource>& entries,
                                                       ArchiveLayout layout = ArchiveLayout::Current,
                                                       const char (&legacyMagic)[13] = "pelmar arc20");

struct PayloadEntryShape {
    std::string name;  // code page 932 bytes
    uint32_t size;
};

// Header and index of an archive whose entries lie back to back from offset 0 in the given order,
// for writers that stream the data behind it themselves. Refuses what makePayloadArchive refuses.
std::optional<std::vector<uint8_t>> makePayloadArchiveHead(const std::vector<PayloadEntryShape>& entries,
                                                           ArchiveLayout layout = ArchiveLayout::Current,
                                                           const char (&legacyMagic)[13] = "pelmar arc20");

// The index entry bytes of one entry, for writers that stream the data themselves.
void writeArchiveIndexEntry(uint8_t* destination, ArchiveLayout layout, const std::string& name, uint32_t offset,
                            uint32_t size);

// The stub padded with zero bytes to 0x60000, then the archive. Nothing when the stub is longer.
std::optional<std::vector<uint8_t>> makePatchImage(const std::vector<uint8_t>& stub,
                                                   const std::vector<uint8_t>& archive);
