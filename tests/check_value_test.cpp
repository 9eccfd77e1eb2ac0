// The check value on every path this processor has (plain loop, SSE2, AVX2) against a literal
// one-byte-at-a-time rendering of the rule, however the bytes are split into calls.
#include "engine/check_value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/support/folder.h"

// The hash's four bytes, the sum and xor of its low byte after each step, the sum and xor of the bytes.
static Bytes rule(const uint8_t* data, size_t length) {
    uint32_t hash = 0;
    Bytes value(8);
    for (const uint8_t* byte = data; byte != data + length; ++byte) {
        hash = hash * 233 + *byte;
        value[4] += static_cast<uint8_t>(hash), value[5] ^= static_cast<uint8_t>(hash);
        value[6] += *byte, value[7] ^= *byte;
    }
    for (int i = 0; i < 4; ++i) value[i] = static_cast<uint8_t>(hash >> 8 * i);
    return value;
}

TEST(CheckValueTest, EveryPathFollowsTheRuleHoweverTheBytesAreSplit) {
    ASSERT_EQ(rule(bytesOf("abc").data(), 3), (Bytes{0x06, 0xB4, 0x50, 0, 0x12, 0xCC, 0x26, 0x60}));
    std::mt19937 random(7);
    Bytes noise(3u << 20), ones(3u << 20, 0xFF);  // 0xFF drives every sum to its largest
    for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
    for (const CheckValuePath path : {CheckValuePath::Plain, CheckValuePath::Sse2, CheckValuePath::Avx2}) {
        if (limitCheckValuePath(path) != path) continue;  // this processor lacks the path
        // Every length to past two of the widest blocks (4 KiB), after a prefix that leaves an
        // arbitrary value and alignment.
        for (uint32_t length = 0, failures = 0; length <= 8400; ++length) {
            CheckValue value;
            value.update(noise.data(), length % 61);
            value.update(noise.data() + length % 61, length);
            const bool same = Bytes(value.bytes(), value.bytes() + 8) == rule(noise.data(), length % 61 + length);
            if (!same && ++failures <= 5) ADD_FAILURE() << "path " << int(path) << ", " << length << " bytes";
        }
        for (const Bytes* data : {&noise, &ones}) {
            const Bytes expected = rule(data->data(), data->size());
            for (const size_t largest : {size_t{17}, size_t{9000}, data->size()}) {
                CheckValue value;
                for (size_t done = 0, chunk; done < data->size(); done += chunk) {
                    chunk = std::min(std::uniform_int_distribution<size_t>(0, largest)(random), data->size() - done);
                    value.update(data->data() + done, static_cast<uint32_t>(chunk));
                }
                EXPECT_EQ(Bytes(value.bytes(), value.bytes() + 8), expected) << "path " << int(path) << ", " << largest;
            }
        }
    }
    limitCheckValuePath(CheckValuePath::Avx2);
}
