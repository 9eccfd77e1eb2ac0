#include "formats/version_list_writer.h"

#include <cstring>

#include "engine/little_endian.h"

std::optional<std::vector<uint8_t>> makeVersionList(const std::vector<VersionRecordSource>& records,
                                                    VersionListVersion version, uint32_t headerWord) {
    if (version == VersionListVersion::None) return std::nullopt;
    const VersionRecordLayout layout = versionRecordLayout(version);
    for (const VersionRecordSource& record : records) {
        if (record.name.empty() || record.name.size() > maxVersionRecordName(version) ||
            record.name.find('\0') != std::string::npos) {
            return std::nullopt;
        }
    }
    const uint64_t bytes = versionListHeaderSize + static_cast<uint64_t>(records.size()) * layout.recordSize;
    if (bytes > 0xFFFFFFFFull) return std::nullopt;

    std::vector<uint8_t> list(bytes, 0);
    std::memcpy(list.data(), version == VersionListVersion::V2 ? versionListMagicV2 : versionListMagicV1,
                sizeof versionListMagicV2);
    writeU32(list.data() + 8, headerWord);
    writeU32(list.data() + 12, static_cast<uint32_t>(records.size()));
    uint8_t* record = list.data() + versionListHeaderSize;
    for (const VersionRecordSource& source : records) {
        std::memcpy(record, source.name.data(), source.name.size());
        std::memcpy(record + layout.nameField, source.checkValue.data(), checkValueSize);
        record += layout.recordSize;
    }
    return list;
}
