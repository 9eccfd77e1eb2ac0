// Code page 932 helpers: the multibyte-aware search and the name lower-casing rule.
#include "engine/code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string lowered(std::string name) {
    lowerCaseName(name.data());
    return name.c_str();
}

TEST(CodePageTest, LeadBytesAreTheTwoRangesOfCodePage932) {
    for (int byte = 0; byte < 256; ++byte) {
        const bool expected = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        EXPECT_EQ(isLeadByte(static_cast<unsigned char>(byte)), expected) << byte;
    }
}

TEST(CodePageTest, SearchStepsOverDoubleByteCharacters) {
    // "表" is 0x95 0x5C: its trail byte is a backslash, which is not a separator.
    const std::string path = "\x95\x5C\\x";
    EXPECT_EQ(findCharacter(path.c_str(), '\\'), path.c_str() + 2);
    EXPECT_EQ(findCharacter(path.c_str(), path.size(), '\\'), path.c_str() + 2);
    const std::string line = "\x82\x0D\x0A" "end";  // a lead byte swallows the CR as its trail byte
    EXPECT_EQ(findCharacter(line.c_str(), '\r'), nullptr);
    EXPECT_EQ(findCharacter(line.c_str(), '\n'), line.c_str() + 2);
    EXPECT_EQ(findCharacter("abc", 'z'), nullptr);
    EXPECT_EQ(findCharacter("\x81", '\0'), nullptr);  // a lead byte before the NUL ends the text
    EXPECT_EQ(findCharacter("ab\x81", 3, 'x'), nullptr);
}

TEST(CodePageTest, LowerCasingRule) {
    const struct {
        const char* name;
        const char* expected;
    } cases[] = {
        {"TLX.HVL", "tlx.hvl"},
        {"Data.ARC", "data.arc"},
        {"\xB1\xB2", "\xB1\xB2"},          // half-width katakana stay
        {"\x82\x60\x82\x79", "\x82\x81\x82\x9A"},  // full-width A and Z become full-width a and z
        {"\x83\x9F", "\x83\xBF"},          // Greek capital alpha
        {"\x84\x40", "\x84\x70"},          // Cyrillic capital A
        {"\x95\x5C" "A", "\x95\x5C" "a"},     // a trail byte 0x5C is not touched, the next letter is
        // Trail bytes 0x5C and 0x7C belong to their character: it is mapped as a whole, and a
        // backslash or bar that follows is a character of its own.
        {"\x84\x5C\\A", "\x84\x8D\\a"},  // Cyrillic capital YERU
        {"\x87\x5C" "B", "\xFA\x48" "b"},  // Roman numeral nine becomes small Roman numeral nine
        {"\x84\x7C|C", "\x84\x7C|c"},    // Cyrillic small EL has no other form
        {"\xED\x7C" "D", "\xFA\x99" "d"},  // a kanji held twice comes back as its preferred code
        {"\x82\x60", "\x82\x81"},
        {"[]^_`{}", "[]^_`{}"},
        {"", ""},
    };
    for (const auto& test : cases) EXPECT_EQ(lowered(test.name), test.expected) << test.name;
}

TEST(CodePageTest, NamesCompareByTheirLowerCasedForms) {
    EXPECT_TRUE(nameEqualsLowerKey("TLX.HVL", "tlx.hvl"));
    EXPECT_TRUE(nameEqualsLowerKey("tlx.hvl", "tlx.hvl"));
    EXPECT_FALSE(nameEqualsLowerKey("sys\\tlx.hvl", "tlx.hvl"));
    EXPECT_FALSE(nameEqualsLowerKey("tlx.hvl ", "tlx.hvl"));
    EXPECT_FALSE(nameEqualsLowerKey("tlx.hv", "tlx.hvl"));
    EXPECT_FALSE(nameEqualsLowerKey(std::string(300, 'a').c_str(), std::string(259, 'a').c_str()));
    EXPECT_TRUE(nameEqualsLowerKey(std::string(259, 'A').c_str(), std::string(259, 'a').c_str()));
}

// Single bytes: only "A" to "Z" change; half-width katakana, symbols and bytes 0x80 and above stay.
// A lead byte directly before the NUL ends the name and stays as it is. On Windows (under Wine)
// this checks the platform's mapping against the rule the POSIX backend implements.
TEST(CodePageTest, SingleBytesFollowTheRuleOnEveryByte) {
    EXPECT_EQ(lowered(""), "");
    int mismatches = 0;
    for (int byte = 0x01; byte <= 0xFF; ++byte) {
        const char single = static_cast<char>(byte);
        const char expected = byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a') : single;
        const std::string alone = lowered(std::string(1, single));
        if (alone != std::string(1, expected) && ++mismatches <= 20) {
            ADD_FAILURE() << std::hex << "byte 0x" << byte << " alone became " << alone.size() << " bytes";
        }
        if (isLeadByte(static_cast<unsigned char>(byte))) continue;  // with a follower it is a pair
        const std::string followed = lowered(std::string{single, 'Q'});
        if (followed != std::string{expected, 'q'} && ++mismatches <= 20) {
            ADD_FAILURE() << std::hex << "byte 0x" << byte << " followed by Q";
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// The table-based mapping of the POSIX backend and the platform's own mapping agree on every
// double-byte character. On Windows (under Wine) this compares the two implementations.
TEST(CodePageTest, TableAgreesWithTheLowerCasingRuleOnEveryDoubleByteCharacter) {
    int mismatches = 0;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (!isLeadByte(static_cast<unsigned char>(lead))) continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            char name[3] = {static_cast<char>(lead), static_cast<char>(trail), 0};
            lowerCaseName(name);
            const uint16_t fromTable = lowerCaseDoubleByte(static_cast<uint16_t>(lead << 8 | trail));
            const uint16_t fromRule = static_cast<uint16_t>(static_cast<unsigned char>(name[0]) << 8 |
                                                            static_cast<unsigned char>(name[1]));
            if (fromTable != fromRule && ++mismatches <= 20) {
                ADD_FAILURE() << std::hex << "character 0x" << (lead << 8 | trail) << ": table 0x" << fromTable
                              << ", rule 0x" << fromRule;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
