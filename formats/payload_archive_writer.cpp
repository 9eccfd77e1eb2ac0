#include "formats/payload_archive_writer.h"

#include <algorithm>
#include <cstring>

#include "engine/little_endian.h"

void writeArchiveIndexEntry(uint8_t* destination, ArchiveLayout layout, const std::string& name, uint32_t offset,
                            uint32_t size) {
    const ArchiveLayoutInfo info = layoutInfo(layout);
    std::memset(destination, 0, info.entrySize);
    std::memcpy(destination, name.data(), std::min<size_t>(name.size(), info.nameField - 1));
    writeU32(destination + info.nameField, offset);
    writeU32(destination + info.nameField + 4, size);
}

std::optional<std::vector<uint8_t>> makePayloadArchiveHead(const std::vector<PayloadEntryShape>& entries,
                                                           ArchiveLayout layout, const char (&legacyMagic)[13]) {
    const ArchiveLayoutInfo info = layoutInfo(layout);
    const uint64_t indexBytes = static_cast<uint64_t>(entries.size()) * info.entrySize;
    uint64_t dataBytes = 0;
    for (const PayloadEntryShape& entry : entries) {
        if (entry.name.size() >= info.nameField || entry.name.find('\0') != std::string::npos) return std::nullopt;
        dataBytes += entry.size;
    }
    if (archiveHeaderSize + indexBytes + dataBytes > 0xFFFFFFFFull) return std::nullopt;

    std::vector<uint8_t> head(archiveHeaderSize + indexBytes);
    std::memcpy(head.data(), layout == ArchiveLayout::Current ? archiveMagic : legacyMagic, sizeof archiveMagic);
    writeU32(head.data() + 12, static_cast<uint32_t>(entries.size()));
    uint32_t offset = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        writeArchiveIndexEntry(head.data() + archiveHeaderSize + i * info.entrySize, layout, entries[i].name, offset,
                               entries[i].size);
        offset += entries[i].size;
    }
    return head;
}

std::optional<std::vector<uint8_t>> makePayloadArchive(const std::vector<PayloadEntrySource>& entries,
                                                       ArchiveLayout layout, const char (&legacyMagic)[13]) {
    uint64_t dataBytes = 0;
    for (const PayloadEntrySource& entry : entries) dataBytes += entry.bytes.size();
    if (dataBytes > 0xFFFFFFFFull) return std::nullopt;  // so every single size fits 32 bits too
    std::vector<PayloadEntryShape> shapes;
    for (const PayloadEntrySource& entry : entries) {
        shapes.push_back({entry.name, static_cast<uint32_t>(entry.bytes.size())});
    }
    std::optional<std::vector<uint8_t>> archive = makePayloadArchiveHead(shapes, layout, legacyMagic);
    if (!archive) return std::nullopt;
    archive->reserve(archive->size() + dataBytes);
    for (const PayloadEntrySource& entry : entries)
        archive->insert(archive->end(), entry.bytes.begin(), entry.bytes.end());
    return archive;
}

std::optional<std::vector<uint8_t>> makePatchImage(const std::vector<uint8_t>& stub,
                                                   const std::vector<uint8_t>& archive) {
    if (stub.size() > payloadOffset) return std::nullopt;
    std::vector<uint8_t> image(stub);
    image.resize(payloadOffset, 0);
    image.insert(image.end(), archive.begin(), archive.end());
    return image;
}
