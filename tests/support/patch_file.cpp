#include "tests/support/patch_file.h"

#include <algorithm>

std::array<uint8_t, checkValueSize> checkValueOf(const Bytes& bytes) {
    CheckValue value;
    value.update(bytes.data(), static_cast<uint32_t>(bytes.size()));
    std::array<uint8_t, checkValueSize> stored;
    std::copy(value.bytes(), value.bytes() + checkValueSize, stored.begin());
    return stored;
}

void writePatchFile(const std::string& path, const std::vector<PayloadEntrySource>& entries) {
    writeFile(path, *makePatchImage(Bytes(512, 0x4D), *makePayloadArchive(entries)));
}
