// Reading the payload archive's header and index from a patch file.
#include "engine/payload_archive.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/file_handle.h"
#include "engine/little_endian.h"
#include "formats/payload_archive_writer.h"
#include "tests/support/temp_folder.h"

namespace {

std::vector<uint8_t> bytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

class PayloadArchiveTest : public ::testing::Test {
protected:
    TempFolder folder;
    std::string patchPath = folder.file("setup.exe");
    FileHandle executable;
    PayloadArchive archive;

    // Writes the stub area (zero bytes up to 0x60000) followed by `tail` and opens it.
    UpdateResult openWith(const std::vector<uint8_t>& tail) {
        std::vector<uint8_t> image(payloadOffset, 0);
        image.insert(image.end(), tail.begin(), tail.end());
        writeFileBytes(patchPath, image);
        EXPECT_TRUE(executable.openRead(patchPath.c_str()));
        return archive.open(executable);
    }
    UpdateResult openWith(const std::vector<PayloadEntrySource>& entries, ArchiveLayout layout) {
        return openWith(*makePayloadArchive(entries, layout));
    }
    static std::vector<uint8_t> header(const char (&magic)[13], uint32_t count) {
        std::vector<uint8_t> bytes(16);
        std::memcpy(bytes.data(), magic, 12);
        writeU32(bytes.data() + 12, count);
        return bytes;
    }
};

TEST_F(PayloadArchiveTest, FilesThatCannotHoldAnArchiveAreDamaged) {
    const struct {
        size_t tailBytes;
        UpdateResult expected;
    } cases[] = {{0, PayloadDamaged}, {15, PayloadDamaged}, {16, Ok}};
    for (const auto& test : cases) {
        executable.close();
        std::vector<uint8_t> tail = header("PELMAR ARC20", 0);
        tail.resize(test.tailBytes);
        EXPECT_EQ(openWith(tail), test.expected) << test.tailBytes;
    }
    // A file shorter than 0x60000 bytes, and a handle that never opened. The file is rewritten, so
    // the reader that keeps writers out must let go of it first.
    executable.close();
    writeFileBytes(patchPath, std::vector<uint8_t>(payloadOffset - 1, 0));
    FileHandle shortFile;
    ASSERT_TRUE(shortFile.openRead(patchPath.c_str()));
    EXPECT_EQ(archive.open(shortFile), PayloadDamaged);
    FileHandle closed;
    EXPECT_EQ(archive.open(closed), PayloadDamaged);
}

TEST_F(PayloadArchiveTest, CountAbove32IsRefusedBeforeTheMagicIsLookedAt) {
    const struct {
        const char* magic;
        uint32_t count;
        UpdateResult expected;
    } cases[] = {
        {"PELMAR ARC20", 33, TooManyEntries}, {"xxxxxxxxxxxx", 33, TooManyEntries},
        {"PELMAR ARC20", 0xFFFFFFFF, TooManyEntries}, {"PELMAR ARC20", 32, Ok}, {"pelmar arc20", 32, Ok},
    };
    for (const auto& test : cases) {
        executable.close();
        char magic[13] = {};
        std::memcpy(magic, test.magic, 12);
        std::vector<uint8_t> tail = header(reinterpret_cast<const char(&)[13]>(magic), test.count);
        tail.resize(tail.size() + 32 * 128, 0);
        EXPECT_EQ(openWith(tail), test.expected) << test.magic << " " << test.count;
    }
}

TEST_F(PayloadArchiveTest, ShortIndexIsDamaged) {
    std::vector<uint8_t> tail = header("PELMAR ARC20", 2);
    tail.resize(16 + 2 * 128 - 1, 0);
    EXPECT_EQ(openWith(tail), PayloadDamaged);
}

TEST_F(PayloadArchiveTest, CurrentLayoutEntriesAndDataBase) {
    std::vector<PayloadEntrySource> entries;
    for (int i = 0; i < 7; ++i) entries.push_back({"data" + std::to_string(i) + ".arc", bytesOf(std::string(i, 'x'))});
    ASSERT_EQ(openWith(entries, ArchiveLayout::Current), Ok);
    EXPECT_EQ(archive.layout, ArchiveLayout::Current);
    EXPECT_EQ(archive.entryCount(), 7u);
    EXPECT_EQ(archive.dataBase(), 0x60390u);
    EXPECT_EQ(archive.dataPosition(0), 0x60390u);
    uint32_t expectedOffset = 0;
    for (uint32_t i = 0; i < 7; ++i) {
        const ArchiveEntry entry = archive.entry(i);
        EXPECT_STREQ(entry.name, ("data" + std::to_string(i) + ".arc").c_str());
        EXPECT_EQ(entry.offset, expectedOffset);
        EXPECT_EQ(entry.size, i);
        EXPECT_EQ(archive.dataPosition(i), 0x60390u + expectedOffset);
        EXPECT_TRUE(archive.isEntryReachable(i));
        expectedOffset += i;
    }
}

TEST_F(PayloadArchiveTest, AnyOtherMagicSelectsTheLegacyLayout) {
    const std::vector<PayloadEntrySource> entries = {
        {"a.arc", bytesOf("AAAA")}, {"b.arc", bytesOf("BB")}, {"fifteen-chars.x", bytesOf("C")}};
    ASSERT_EQ(openWith(entries, ArchiveLayout::Legacy), Ok);
    EXPECT_EQ(archive.layout, ArchiveLayout::Legacy);
    EXPECT_EQ(archive.dataBase(), 0x60070u);
    EXPECT_STREQ(archive.entry(2).name, "fifteen-chars.x");
    EXPECT_EQ(archive.entry(1).offset, 4u);
    EXPECT_EQ(archive.entry(1).size, 2u);
    EXPECT_EQ(archive.dataPosition(2), 0x60076u);
}

TEST_F(PayloadArchiveTest, EmptyArchiveOpensAndFindsNothing) {
    ASSERT_EQ(openWith({}, ArchiveLayout::Current), Ok);
    EXPECT_EQ(archive.entryCount(), 0u);
    EXPECT_EQ(archive.dataBase(), 0x60010u);
    EXPECT_FALSE(archive.findEntry("tlx.hvl").has_value());
}

TEST_F(PayloadArchiveTest, FindEntryLowerCasesNamesAndTakesTheFirstMatch) {
    const std::vector<PayloadEntrySource> entries = {{"sys\\tlx.hvl", {}},
                                                     {"TLX.HVL", bytesOf("first")},
                                                     {"tlx.hvl", bytesOf("second")},
                                                     {"\x82\x60.arc", {}}};  // full-width A
    ASSERT_EQ(openWith(entries, ArchiveLayout::Current), Ok);
    EXPECT_EQ(archive.findEntry("tlx.hvl"), std::optional<uint32_t>(1));
    EXPECT_EQ(archive.findEntry("\x82\x81.arc"), std::optional<uint32_t>(3));
    EXPECT_FALSE(archive.findEntry("TLX.HVL").has_value()) << "keys are compared as given";
    EXPECT_STREQ(archive.entry(1).name, "TLX.HVL") << "the index keeps its case";
}

TEST_F(PayloadArchiveTest, NameFillingItsWholeFieldIsCutAtTheFieldEnd) {
    std::vector<uint8_t> tail = header("PELMAR ARC20", 1);
    std::vector<uint8_t> entry(128, 0);
    std::memset(entry.data(), 'n', 96);
    writeU32(entry.data() + 96, 0);
    writeU32(entry.data() + 100, 0);
    tail.insert(tail.end(), entry.begin(), entry.end());
    ASSERT_EQ(openWith(tail), Ok);
    EXPECT_EQ(std::string(archive.entry(0).name), std::string(96, 'n'));
}

TEST_F(PayloadArchiveTest, EntriesWhosePositionWrapsAreUnreachable) {
    std::vector<uint8_t> tail = header("PELMAR ARC20", 3);
    const uint32_t fields[3][2] = {{0xFFFFFFFFu - 0x60190u + 1, 0}, {0xFFFFFFFFu - 0x60190u, 2}, {0, 0xFFFFFFFFu}};
    for (const auto& field : fields) {
        std::vector<uint8_t> entry(128, 0);
        entry[0] = 'x';
        writeU32(entry.data() + 96, field[0]);
        writeU32(entry.data() + 100, field[1]);
        tail.insert(tail.end(), entry.begin(), entry.end());
    }
    ASSERT_EQ(openWith(tail), Ok);
    EXPECT_EQ(archive.dataBase(), 0x60190u);
    EXPECT_EQ(archive.dataPosition(0), 0u) << "the 32-bit position wraps";
    EXPECT_FALSE(archive.isEntryReachable(0));
    EXPECT_FALSE(archive.isEntryReachable(1)) << "first byte fits, end does not";
    EXPECT_FALSE(archive.isEntryReachable(2));
}

TEST(PayloadArchiveWriterTest, RefusesWhatTheLayoutCannotHold) {
    EXPECT_TRUE(makePayloadArchive({{std::string(95, 'a'), {}}}, ArchiveLayout::Current).has_value());
    EXPECT_FALSE(makePayloadArchive({{std::string(96, 'a'), {}}}, ArchiveLayout::Current).has_value());
    EXPECT_TRUE(makePayloadArchive({{std::string(15, 'a'), {}}}, ArchiveLayout::Legacy).has_value());
    EXPECT_FALSE(makePayloadArchive({{std::string(16, 'a'), {}}}, ArchiveLayout::Legacy).has_value());
    EXPECT_FALSE(makePatchImage(std::vector<uint8_t>(payloadOffset + 1), {}).has_value());
    EXPECT_EQ(makePatchImage(std::vector<uint8_t>(payloadOffset), {1})->size(), payloadOffset + 1);
}

}  // namespace
