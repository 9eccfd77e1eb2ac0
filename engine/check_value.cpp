#include "engine/check_value.h"

#include "engine/little_endian.h"

void CheckValue::reset() {
    for (uint8_t& byte : stored) byte = 0;
}

void CheckValue::update(const void* data, uint32_t length) {
    // The five running values live in locals for the whole chunk and go back to the stored form
    // once at the end, so the loop does per byte only the arithmetic the value is made of.
    uint32_t hash = readU32(stored);
    uint8_t lowSum = stored[4];
    uint8_t lowXor = stored[5];
    uint8_t dataSum = stored[6];
    uint8_t dataXor = stored[7];
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (uint32_t i = 0; i < length; ++i) {
        const uint8_t d = bytes[i];
        hash = hash * 233u + d;
        const auto low = static_cast<uint8_t>(hash);
        lowSum = static_cast<uint8_t>(lowSum + low);
        lowXor ^= low;
        dataSum = static_cast<uint8_t>(dataSum + d);
        dataXor ^= d;
    }
    writeU32(stored, hash);
    stored[4] = lowSum;
    stored[5] = lowXor;
    stored[6] = dataSum;
    stored[7] = dataXor;
}
