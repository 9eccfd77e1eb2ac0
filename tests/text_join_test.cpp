#include "engine/text_join.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A buffer of `size` usable bytes followed by guard bytes that must never be written.
struct GuardedBuffer {
    static constexpr int guard = 8;
    explicit GuardedBuffer(uint32_t size) : size(size), bytes(size + guard, '\x7F') {}
    bool guardIntact() const { return bytes.find_first_not_of('\x7F', size) == std::string::npos; }
    uint32_t size;
    std::string bytes;
};

TEST(TextJoinTest, JoinsWhatFitsWithItsNulAndRefusesTheRest) {
    const std::string folder(250, 'f');
    struct Case {
        const char* what;
        uint32_t size;
        std::initializer_list<const char*> parts;
        bool joins;
    };
    const Case cases[] = {
        {"a path", 260, {"C:\\game", "\\", "uninst.lst"}, true},
        {"exactly fills the buffer with its NUL", 6, {"ab", "c", "de"}, true},
        {"one byte over", 5, {"ab", "c", "de"}, false},
        {"over in the first part", 3, {"abc", "", ""}, false},
        {"empty parts", 1, {"", "", ""}, true},
        {"no parts", 1, {}, true},
        {"no room at all", 0, {""}, false},
        {"259 bytes in 260", 260, {folder.c_str(), "\\", "abcdefgh"}, true},
        {"260 bytes in 260", 260, {folder.c_str(), "\\", "abcdefghi"}, false},
    };
    for (const Case& c : cases) {
        GuardedBuffer buffer(c.size);
        const bool joined = joinText(buffer.bytes.data(), c.size, c.parts);
        std::string whole;
        for (const char* part : c.parts) whole += part;
        ASSERT_EQ(whole.size() < c.size, c.joins) << c.what << ": the case itself is wrong";
        EXPECT_EQ(joined, c.joins) << c.what;
        if (joined) {
            EXPECT_STREQ(buffer.bytes.c_str(), whole.c_str()) << c.what;
        } else if (c.size > 0) {
            EXPECT_EQ(buffer.bytes[0], '\0') << c.what << ": a refused join leaves an empty text";
        }
        EXPECT_TRUE(buffer.guardIntact()) << c.what << ": wrote past the buffer";
    }
}

}  // namespace
