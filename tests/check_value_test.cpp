// The check value over known inputs, and every path of update() (plain loop, SSE2, AVX2: each one
// the machine has) against a literal one-byte-at-a-time rendering of the rule: every length up to
// past two of the widest blocks, large inputs, random call boundaries and arbitrary starting values.
#include "engine/check_value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
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

// A second, deliberately literal rendering of the rule: one byte at a time, fields kept apart,
// continuing from the value `start`.
Stored referenceCheckValue(const uint8_t* data, size_t length, const Stored& start = {}) {
    uint32_t hash = start[0] | start[1] << 8 | start[2] << 16 | static_cast<uint32_t>(start[3]) << 24;
    unsigned lowSum = start[4], lowXor = start[5], dataSum = start[6], dataXor = start[7];
    for (size_t i = 0; i < length; ++i) {
        const uint8_t d = data[i];
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

Stored referenceCheckValue(const std::vector<uint8_t>& data) { return referenceCheckValue(data.data(), data.size()); }

std::vector<uint8_t> randomBytes(std::mt19937& random, size_t size) {
    std::vector<uint8_t> bytes(size);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
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

TEST(CheckValueTest, PathLimits) {
    const CheckValuePath widest = widestCheckValuePath();
#if defined(__SSE2__)
    EXPECT_GE(widest, CheckValuePath::Sse2);  // every x86 build here has SSE2
#endif
    EXPECT_EQ(limitCheckValuePath(CheckValuePath::Plain), CheckValuePath::Plain);
    EXPECT_EQ(limitCheckValuePath(CheckValuePath::Avx2), widest);  // never wider than the machine
}

// Each test below runs once for every path this machine can take.
class CheckValuePathTest : public testing::TestWithParam<CheckValuePath> {
protected:
    void SetUp() override {
        if (GetParam() > widestCheckValuePath()) GTEST_SKIP() << "this processor lacks the path";
        ASSERT_EQ(limitCheckValuePath(GetParam()), GetParam());
    }
    void TearDown() override { limitCheckValuePath(CheckValuePath::Avx2); }
};

// Every length from 0 to past two blocks of the widest path (whole blocks plus every possible
// remainder), at varying alignment, each continuing from an arbitrary value.
TEST_P(CheckValuePathTest, EveryLengthFromArbitraryValues) {
    std::mt19937 random(7);
    const std::vector<uint8_t> data = randomBytes(random, 8400 + 64);
    uint32_t failures = 0;
    for (uint32_t length = 0; length <= 8400 && failures < 5; ++length) {
        const uint8_t* bytes = data.data() + length % 61;
        CheckValue value;
        for (uint8_t& byte : value.stored) byte = static_cast<uint8_t>(random());
        const Stored start = storedOf(value);
        value.update(bytes, length);
        if (storedOf(value) != referenceCheckValue(bytes, length, start)) {
            ADD_FAILURE() << length << " bytes";
            ++failures;
        }
    }
}

// Large inputs in one call: random bytes, and uniform bytes at both extremes, which drive the sums
// of bytes and of low bytes to their largest and smallest values.
TEST_P(CheckValuePathTest, LargeInputs) {
    std::mt19937 random(11);
    const size_t size = (5u << 20) + 777;
    const struct {
        const char* name;
        std::vector<uint8_t> data;
    } cases[] = {
        {"random", randomBytes(random, size)},
        {"all 0xFF", std::vector<uint8_t>(size, 0xFF)},
        {"all zero", std::vector<uint8_t>(size, 0x00)},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(checkValueOf(test.data), referenceCheckValue(test.data)) << test.name;
    }
}

// The value depends only on the bytes, not on how they are divided into calls.
TEST_P(CheckValuePathTest, RandomCallBoundaries) {
    std::mt19937 random(20240603);
    for (int round = 0; round < 40; ++round) {
        const std::vector<uint8_t> data =
            randomBytes(random, std::uniform_int_distribution<size_t>(0, round < 36 ? 70000 : 3000000)(random));
        const Stored expected = referenceCheckValue(data);
        EXPECT_EQ(checkValueOf(data), expected) << "one call, " << data.size() << " bytes";

        CheckValue value;
        value.reset();
        size_t position = 0;
        while (position < data.size()) {
            // Mostly small chunks, sometimes empty ones, sometimes ones of several blocks.
            const size_t largest = round % 3 == 0 ? 17 : round % 3 == 1 ? 9000 : 300000;
            const size_t wanted = std::uniform_int_distribution<size_t>(0, largest)(random);
            const size_t chunk = std::min(wanted, data.size() - position);
            value.update(data.data() + position, static_cast<uint32_t>(chunk));
            position += chunk;
        }
        EXPECT_EQ(storedOf(value), expected) << "chunked, " << data.size() << " bytes";
    }
}

std::string pathName(const testing::TestParamInfo<CheckValuePath>& info) {
    switch (info.param) {
        case CheckValuePath::Plain:
            return "Plain";
        case CheckValuePath::Sse2:
            return "Sse2";
        case CheckValuePath::Avx2:
            return "Avx2";
    }
    return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(Paths, CheckValuePathTest,
                         testing::Values(CheckValuePath::Plain, CheckValuePath::Sse2, CheckValuePath::Avx2), pathName);

}  // namespace
