// Names under which entries are installed must stay inside the install folder.
#include "engine/target_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TargetNameTest, OnlyRelativeNamesWithoutDotComponentsAreSafe) {
    const struct {
        const char* name;
        bool safe;
    } cases[] = {
        {"data.arc", true},        {"Sub\\Data.arc", true},    {"a/b/c.arc", true},
        {"...", true},             {"a..b", true},             {".hidden", true},
        {"\x95\x5C.arc", true},    // the trail byte 0x5C of a double-byte character is no separator
        {"", false},               {"\\data.arc", false},      {"/data.arc", false},
        {"C:data.arc", false},     {"C:\\data.arc", false},    {"..\\data.arc", false},
        {"sub\\..\\..\\x", false}, {".\\data.arc", false},     {"sub/.", false},
        {"sub\\", false},          {"a\\\\b", false},          {"..", false},
        {"a.arc\x95", false},      {"\x95", false},           // half a double-byte character at the end
    };
    for (const auto& test : cases) EXPECT_EQ(isSafeTargetName(test.name), test.safe) << test.name;
}

TEST(TargetNameTest, ComposedPathsMustFitTheirBuffer) {
    char buffer[18];
    EXPECT_TRUE(composePath(buffer, sizeof buffer, "C:\\game", "a.arc", ".tmp"));
    EXPECT_STREQ(buffer, "C:\\game\\a.arc.tmp");
    EXPECT_FALSE(composePath(buffer, sizeof buffer, "C:\\game", "ab.arc", ".tmp")) << "19 bytes with the NUL";
    const std::string folder(250, 'f');
    char path[260];
    EXPECT_TRUE(composePath(path, sizeof path, folder.c_str(), "abcd", ".tmp"));
    EXPECT_FALSE(composePath(path, sizeof path, folder.c_str(), "abcde", ".tmp"));
}

}  // namespace
