// Names in code page 932: double-byte characters as units, the lower-casing rule (on Windows the
// platform's own mapping, checked against the POSIX backend's table) and the 260-byte bounds.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/code_page.h"
#include "engine/target_name.h"
#include "engine/text_join.h"

static std::string lowered(std::string name) {
    lowerCaseName(name.data());
    return name.c_str();
}

TEST(NamesTest, DoubleByteCharactersAreUnits) {
    for (const char* text : {"\x80\\", "\xA0\\", "\xDF\\", "\xFD\\"}) EXPECT_EQ(findCharacter(text, '\\'), text + 1);
    for (const char* text : {"\x81\\", "\x9F\\", "\xE0\\", "\xFC\\"}) EXPECT_EQ(findCharacter(text, '\\'), nullptr);
    const char path[] = "\x95\x5C\\x";  // the trail byte of "表" is 0x5C
    EXPECT_EQ(findCharacter(path, 4, '\\'), path + 2);
    // Trail bytes "|" (ポ) and "\" (ソ, 能) are no forbidden character and no separator.
    EXPECT_TRUE(isSafeTargetName("\x83\x7C\x83\x58\x83\x5E\x81\x5B.arc"));    // ポスター.arc
    EXPECT_TRUE(isSafeTargetName("\x83\x5C\x83\x74\x83\x67\\\x94\x5C.dat"));  // ソフト\能.dat
    const std::pair<const char*, const char*> cases[] = {
        {"TLX.HVL\xB1[]^_`{}", "tlx.hvl\xB1[]^_`{}"},  // half-width katakana and symbols stay
        {"\x82\x60\x82\x79", "\x82\x81\x82\x9A"},      // full-width A and Z
        {"\x84\x5C\\A", "\x84\x8D\\a"},                // Cyrillic capital YERU, then a backslash
        {"\xED|D", "\xFA\x99\x64"},                    // a kanji held twice becomes its preferred code, then "d"
        {"AB\x95", "ab\x95"},                          // half a character at the end stays
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(lowered(name), expected) << name;
}

// Windows takes a name part for a device after dropping its extension and the spaces before it. The
// superscript digits one to three make COM and LPT devices where the code page has them (1252, under
// Wine in a French locale, runs this test too); in code page 932 those bytes are half-width katakana.
TEST(NamesTest, DeviceNamesAsWindowsMatchesThemOnThisCodePage) {
    const bool superscripts = !isLeadByte(0xE9);  // the two code pages the tests run under: 932 and 1252
    const std::pair<const char*, bool> cases[] = {
        {"nul .txt", false},
        {"con  .arc", false},
        {"sub\\CONIN$", false},
        {"conout$.x", false},
        {"Com0.arc", false},
        {"lpt9", false},
        {"aux.a.b", false},
        {"COM\xB9.arc", !superscripts},
        {"lpt\xB3", !superscripts},
        {"COM10.arc", true},
        {"conin.arc", true},
        {"nul_.txt", true},
        {"prn1", true},
    };
    for (const auto& [name, safe] : cases) EXPECT_EQ(isSafeTargetName(name), safe) << name;
}

// Natively the table is checked against itself; under Wine the platform's mapping against the
// table, over every single byte and every lead/trail pair, so that the two cannot drift apart.
TEST(NamesTest, PlatformMappingAgreesWithTheTableOnEveryCharacter) {
    int mismatches = 0;
    const auto expect = [&](const std::string& name, const std::string& expected) {
        if (lowered(name) != expected && ++mismatches <= 10) ADD_FAILURE() << testing::PrintToString(name);
    };
    for (int first = 1; first <= 0xFF; ++first) {
        const char byte = static_cast<char>(first);
        if (!isLeadByte(static_cast<unsigned char>(first))) {
            expect({byte, 'Q'}, {first >= 'A' && first <= 'Z' ? static_cast<char>(first + 32) : byte, 'q'});
        }
        for (int trail = 0x40; trail <= 0xFC && isLeadByte(static_cast<unsigned char>(first)); ++trail) {
            const uint16_t lower = lowerCaseDoubleByte(static_cast<uint16_t>(first << 8 | trail));
            expect({byte, static_cast<char>(trail)}, {static_cast<char>(lower >> 8), static_cast<char>(lower)});
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(NamesTest, JoinedPathsStayWithinTheir260Bytes) {
    const std::string folder(250, 'f');
    for (const size_t tail : {8u, 9u}) {  // the folder, "\" and 8 bytes fill 260 bytes with the NUL
        char buffer[270];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(joinText(buffer, 260, {folder.c_str(), "\\", std::string(tail, 'n').c_str()}), tail == 8);
        EXPECT_EQ(std::string(buffer + 260, 10), std::string(10, '#')) << "written past the buffer";
        EXPECT_EQ(nameEqualsLowerKey(std::string(251 + tail, 'A').c_str(), std::string(251 + tail, 'a').c_str()),
                  tail == 8);
    }
    char path[18];
    EXPECT_TRUE(composePath(path, sizeof path, "C:\\game", "a.arc", ".tmp"));
    EXPECT_STREQ(path, "C:\\game\\a.arc.tmp");
}
