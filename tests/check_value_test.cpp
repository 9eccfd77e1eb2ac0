// The check value over known inputs, and its independence from how the data is chunked.
#include "engine/check_value.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace {

using Stored = std::array<uint8_t, 8>;

Stored storedOf(const CheckValue& value) {
    Stored result;
    for (uint32_t i = 0; i < 8; ++i) result[i] = value.bytes()[i];
    return result;
}

Stored checkValueOf(const std::vector<uint8_t>& data) {
    CheckValue value;
    value.reset();
    value.update(data.data(), static_cast<uint32_t>(data.size()));
    return storedOf(value);
}

// A second, deliberately literal rendering of the rule: one byte at a time, fields kept apart.
Stored referenceCheckValue(const std::vector<uint8_t>& data) {
    uint32_t hash = 0;
    unsigned lowSum = 0, lowXor = 0, dataSum = 0, dataXor = 0;
    for (uint8_t d : data) {
        hash = static_cast<uint32_t>((static_cast<uint64_t>(hash) * 0xE9 + d) % 0x100000000ull);
        const unsigned low = hash % 256;
        lowSum = (lowSum + low) % 256;
        lowXor ^= low;
        dataSum = (dataSum + d) % 256;
        dataXor ^= d;
    }
    return {static_cast<uint8_t>(hash % 256),
            static_cast<uint8_t>(hash / 256 % 256),
            static_cast<uint8_t>(hash / 65536 % 256),
            static_cast<uint8_t>(hash / 16777216),
            static_cast<uint8_t>(lowSum),
            static_cast<uint8_t>(lowXor),
            static_cast<uint8_t>(dataSum),
            static_cast<uint8_t>(dataXor)};
}

TEST(CheckValueTest, KnownValues) {
    const struct {
        std::vector<uint8_t> data;
        Stored expected;
    } cases[] = {
        {{}, {0, 0, 0, 0, 0, 0, 0, 0}},
        {{0x61}, {0x61, 0, 0, 0, 0x61, 0x61, 0x61, 0x61}},
        {{0xFF}, {0xFF, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},  // bytes are taken as unsigned
        {{0x61, 0x62, 0x63}, {0x06, 0xB4, 0x50, 0x00, 0x12, 0xCC, 0x26, 0x60}},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(checkValueOf(test.data), test.expected) << test.data.size() << " bytes";
        EXPECT_EQ(referenceCheckValue(test.data), test.expected) << "reference, " << test.data.size() << " bytes";
    }
}

TEST(CheckValueTest, ResetStartsOverAndEmptyUpdatesChangeNothing) {
    CheckValue value;
    value.reset();
    value.update("xyz", 3);
    value.reset();
    value.update("a", 1);
    value.update(nullptr, 0);
    value.update("bc", 2);
    value.update("", 0);
    EXPECT_EQ(storedOf(value), (Stored{0x06, 0xB4, 0x50, 0x00, 0x12, 0xCC, 0x26, 0x60}));
}

TEST(CheckValueTest, ChunkingDoesNotChangeTheValue) {
    std::mt19937 random(20240603);
    for (int round = 0; round < 40; ++round) {
        std::vector<uint8_t> data(std::uniform_int_distribution<size_t>(0, 70000)(random));
        for (uint8_t& byte : data) byte = static_cast<uint8_t>(random());
        const Stored expected = referenceCheckValue(data);
        EXPECT_EQ(checkValueOf(data), expected) << "one call, " << data.size() << " bytes";

        CheckValue value;
        value.reset();
        size_t position = 0;
        while (position < data.size()) {
            // Mostly small chunks, sometimes empty ones, sometimes large ones.
            const size_t wanted = round % 2 == 0 ? std::uniform_int_distribution<size_t>(0, 17)(random)
                                                 : std::uniform_int_distribution<size_t>(0, 9000)(random);
            const size_t chunk = std::min(wanted, data.size() - position);
            value.update(data.data() + position, static_cast<uint32_t>(chunk));
            position += chunk;
        }
        EXPECT_EQ(storedOf(value), expected) << "chunked, " << data.size() << " bytes";
    }
}

}  // namespace
