#pragma once
// Writes version lists (TLX.hvl) in either version, for patchtool and the tests.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/version_list.h"

struct VersionRecordSource {
    std::string name;  // code page 932 bytes, relative to the install folder, "\" between folders
    std::array<uint8_t, checkValueSize> checkValue{};
};

// The 16-byte header (magic, `headerWord` at offset 8, record count) and the records in the given
// order, each name NUL-terminated and zero-filled within its field. Nothing when a name is empty,
// holds a NUL, or does not fit its field with its NUL (at most 247 bytes in version 2, 55 in
// version 1), or when the list would pass 4 GiB.
std::optional<std::vector<uint8_t>> makeVersionList(const std::vector<VersionRecordSource>& records,
                                                    VersionListVersion version = VersionListVersion::V2,
                                                    uint32_t headerWord = 0);

// Longest name a record of `version` holds, in bytes.
inline constexpr uint32_t maxVersionRecordName(VersionListVersion version) {
    return versionRecordLayout(version).nameField - 1;
}
