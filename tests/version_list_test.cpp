// Loading the payload's version list, finding records by name, and pruning the installed list.
#include "engine/version_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "engine/code_page.h"
#include "engine/file_handle.h"
#include "engine/little_endian.h"
#include "engine/payload_archive.h"
#include "formats/payload_archive_writer.h"
#include "formats/version_list_writer.h"
#include "tests/support/temp_folder.h"

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

namespace {

std::array<uint8_t, 8> checkValueFor(uint8_t seed) {
    std::array<uint8_t, 8> value{};
    for (uint8_t i = 0; i < 8; ++i) value[i] = static_cast<uint8_t>(seed * 31 + i * 7 + 1);
    return value;
}

std::vector<uint8_t> listOf(const std::vector<std::string>& names, VersionListVersion version = VersionListVersion::V2,
                            uint32_t headerWord = 0) {
    std::vector<VersionRecordSource> records;
    for (size_t i = 0; i < names.size(); ++i) records.push_back({names[i], checkValueFor(static_cast<uint8_t>(i))});
    return *makeVersionList(records, version, headerWord);
}

std::vector<uint8_t> headerOnly(const char (&magic)[9], uint32_t count) {
    std::vector<uint8_t> bytes(versionListHeaderSize, 0);
    std::memcpy(bytes.data(), magic, 8);
    writeU32(bytes.data() + 12, count);
    return bytes;
}

// ---------------------------------------------------------------------------------------------
// Loading from the payload

class VersionListLoadTest : public ::testing::Test {
protected:
    TempFolder folder;
    std::string patchPath = folder.file("setup.exe");
    FileHandle executable;
    PayloadArchive archive;
    VersionList list;

    // Writes a patch with these entries and loads its "tlx.hvl" entry, if it has one.
    void load(const std::vector<PayloadEntrySource>& entries) {
        executable.close();
        writeFileBytes(patchPath, *makePatchImage({}, *makePayloadArchive(entries)));
        ASSERT_TRUE(executable.openRead(patchPath.c_str()));
        ASSERT_EQ(archive.open(executable), Ok);
        const std::optional<uint32_t> entry = archive.findEntry("tlx.hvl");
        list.clear();
        if (entry) list.loadFromArchive(executable, archive, *entry);
    }
    void loadList(const std::vector<uint8_t>& hvl) { load({{"data.arc", {1, 2, 3}}, {"TLX.HVL", hvl}}); }
};

TEST_F(VersionListLoadTest, Version2RecordsLoadInOrder) {
    loadList(listOf({"Data1.arc", "sub\\data2.arc", "TLX.exe"}));
    EXPECT_EQ(list.version, VersionListVersion::V2);
    ASSERT_EQ(list.count, 3u);
    EXPECT_STREQ(list.records[1].name, "sub\\data2.arc");
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(std::memcmp(list.records[i].checkValue, checkValueFor(static_cast<uint8_t>(i)).data(), 8), 0) << i;
    }
}

TEST_F(VersionListLoadTest, Version1RecordsAreWidenedIntoZeroedRecords) {
    const std::string longest(55, 'n');
    std::vector<uint8_t> hvl = listOf({"a.arc", longest}, VersionListVersion::V1);
    // Bytes after the NUL of a version 1 name are not carried into the widened record.
    hvl[versionListHeaderSize + 10] = 0xEE;
    loadList(hvl);
    EXPECT_EQ(list.version, VersionListVersion::V1);
    ASSERT_EQ(list.count, 2u);
    EXPECT_STREQ(list.records[1].name, longest.c_str());
    for (uint32_t i = 0; i < 2; ++i) {
        const VersionRecord& record = list.records[i];
        const size_t length = std::strlen(record.name);
        for (size_t b = length; b < sizeof record.name; ++b) EXPECT_EQ(record.name[b], 0) << i << " byte " << b;
        EXPECT_EQ(std::memcmp(record.checkValue, checkValueFor(static_cast<uint8_t>(i)).data(), 8), 0) << i;
    }
}

TEST_F(VersionListLoadTest, NameFieldWithoutNulIsCutAtTheFieldEnd) {
    for (const VersionListVersion version : {VersionListVersion::V1, VersionListVersion::V2}) {
        const uint32_t width = versionRecordLayout(version).nameField;
        std::vector<uint8_t> hvl = listOf({"x"}, version);
        std::memset(hvl.data() + versionListHeaderSize, 'w', width);
        loadList(hvl);
        ASSERT_EQ(list.count, 1u);
        EXPECT_EQ(std::string(list.records[0].name), std::string(width, 'w'));
        EXPECT_EQ(list.records[0].checkValue[0], checkValueFor(0)[0]);
        EXPECT_NE(list.findRecord(std::string(width, 'w').c_str()), nullptr);
    }
}

TEST_F(VersionListLoadTest, UnusableListsLeaveTheListEmpty) {
    std::vector<uint8_t> shortBlock = listOf({"a.arc", "b.arc"});
    shortBlock.pop_back();
    std::vector<uint8_t> shortHeader = listOf({});
    shortHeader.resize(15);
    const struct {
        const char* what;
        std::vector<uint8_t> hvl;
    } cases[] = {
        {"other magic", headerOnly("QTS_V3__", 0)},
        {"magic in lower case", headerOnly("qts_v2__", 0)},
        {"short header", shortHeader},
        {"record block one byte short", shortBlock},
        {"version 2 count whose size passes 32 bits", headerOnly("QTS_V2__", 0x01000000)},
        {"version 1 count whose size passes 32 bits", headerOnly("QTS_____", 0x04000000)},
        {"count too large for the file", headerOnly("QTS_V2__", 0x00FFFFFF)},
        {"count of all ones", headerOnly("QTS_____", 0xFFFFFFFF)},
    };
    for (const auto& test : cases) {
        loadList(listOf({"stale.arc"}));  // a list that held records before
        ASSERT_EQ(list.count, 1u);
        loadList(test.hvl);
        EXPECT_EQ(list.count, 0u) << test.what;
        EXPECT_EQ(list.version, VersionListVersion::None) << test.what;
        EXPECT_EQ(list.findRecord("stale.arc"), nullptr) << test.what;
    }
}

TEST_F(VersionListLoadTest, NoVersionListEntryMeansAnEmptyList) {
    load({{"data.arc", {1}}, {"sys\\tlx.hvl", listOf({"data.arc"})}});
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(list.findRecord("data.arc"), nullptr);
}

TEST_F(VersionListLoadTest, CountAloneDecidesHowMuchIsRead) {
    // The list entry holds only the header; its records lie in the bytes of the entry after it.
    const std::vector<uint8_t> whole = listOf({"a.arc", "b.arc"});
    const std::vector<uint8_t> header(whole.begin(), whole.begin() + versionListHeaderSize);
    const std::vector<uint8_t> rest(whole.begin() + versionListHeaderSize, whole.end());
    load({{"tlx.hvl", header}, {"next.bin", rest}});
    ASSERT_EQ(list.count, 2u);
    EXPECT_STREQ(list.records[1].name, "b.arc");

    // And a count of 0 loads no record even when the entry holds more.
    std::vector<uint8_t> zero = listOf({"a.arc"});
    writeU32(zero.data() + 12, 0);
    loadList(zero);
    EXPECT_EQ(list.version, VersionListVersion::V2);
    EXPECT_EQ(list.count, 0u);
}

// ---------------------------------------------------------------------------------------------
// Finding records

TEST(VersionListNameTest, LastComponentDropsDriveAndFolders) {
    const struct {
        const char* name;
        const char* component;
    } cases[] = {
        {"plain.arc", "plain.arc"},
        {"a.b\\c", "c"},
        {"D:x.arc", "x.arc"},
        {"C:\\game\\sub\\f.arc", "f.arc"},
        {"sub/data.arc", "data.arc"},
        {"a\\b/c\\d.arc", "d.arc"},
        {"folder\\", ""},
        {"\x95\x5C.arc", "\x95\x5C.arc"},  // the trail byte 0x5C of a double-byte character
        {"sub\\\x95\x5C\x95\x5C", "\x95\x5C\x95\x5C"},
        {"\x82\x60\\x.arc", "x.arc"},  // a separator after a double-byte character still counts
        {"ab\x95", "ab\x95"},          // a lead byte at the end does not swallow the NUL
    };
    for (const auto& test : cases) EXPECT_STREQ(lastNameComponent(test.name), test.component) << test.name;
}

class VersionListFindTest : public VersionListLoadTest {};

TEST_F(VersionListFindTest, EntryNamesMatchTheLastComponentLowerCased) {
    loadList(
        listOf({"a.b\\c", "D:x.arc", "sub\\Data.ARC", "\x95\x5C.arc", "\x82\x60.arc", "first\\dup.arc", "DUP.arc"}));
    ASSERT_EQ(list.count, 7u);
    const struct {
        const char* lowerEntryName;
        int expected;  // record index, -1 for none
    } cases[] = {
        {"c", 0},
        {"a.b\\c", -1},
        {"x.arc", 1},
        {"d:x.arc", -1},
        {"data.arc", 2},
        {"\x95\x5C.arc", 3},
        {".arc", -1},         // only if the trail byte had been taken for a separator
        {"\x82\x81.arc", 4},  // full-width capital A matches full-width small a
        {"dup.arc", 5},       // first match in list order
        {"Data.ARC", -1},     // the entry name is compared as given
        {"missing.arc", -1},
    };
    for (const auto& test : cases) {
        const VersionRecord* found = list.findRecord(test.lowerEntryName);
        if (test.expected < 0) {
            EXPECT_EQ(found, nullptr) << test.lowerEntryName;
        } else {
            EXPECT_EQ(found, &list.records[test.expected]) << test.lowerEntryName;
        }
    }
    // The run installs under the whole stored name.
    EXPECT_STREQ(list.findRecord("data.arc")->name, "sub\\Data.ARC");
}

// ---------------------------------------------------------------------------------------------
// Pruning the installed list

class VersionListPruneTest : public ::testing::Test {
protected:
    TempFolder folder;
    std::string listPath = folder.file("TLX.hvl");
    std::string prunePath = folder.file(versionListPruneName);

    void present(const std::string& name) { writeFileText(folder.file(name), name); }
    void presentFolder(const std::string& name) { std::filesystem::create_directories(folder.file(name)); }
    void prune() { VersionList::pruneInstalled(folder.path().c_str()); }
    // The records of `list` (as written) at these positions, behind the header of `list` with its count.
    static std::vector<uint8_t> keeping(const std::vector<uint8_t>& list, const std::vector<uint32_t>& positions) {
        const uint32_t size = versionRecordLayout(versionListVersionOf(list.data())).recordSize;
        std::vector<uint8_t> expected(list.begin(), list.begin() + versionListHeaderSize);
        writeU32(expected.data() + 12, static_cast<uint32_t>(positions.size()));
        for (uint32_t i : positions) {
            const auto first = list.begin() + versionListHeaderSize + i * size;
            expected.insert(expected.end(), first, first + size);
        }
        return expected;
    }
    size_t filesInFolder() const {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder.path()), {}));
    }
};

TEST_F(VersionListPruneTest, NothingListedExists) {
    const std::vector<uint8_t> list = listOf({"a.arc", "b.arc"}, VersionListVersion::V2, 0x12345678);
    writeFileBytes(listPath, list);
    prune();
    const std::vector<uint8_t> pruned = readFileBytes(listPath);
    ASSERT_EQ(pruned.size(), 16u);
    EXPECT_EQ(pruned, keeping(list, {}));
    EXPECT_EQ(readU32(pruned.data() + 8), 0x12345678u);
    EXPECT_FALSE(fileExists(prunePath));
}

TEST_F(VersionListPruneTest, KeepsExistingRecordsInOrderWithTheirBytes) {
    for (const VersionListVersion version : {VersionListVersion::V2, VersionListVersion::V1}) {
        SCOPED_TRACE(version == VersionListVersion::V2 ? "version 2" : "version 1");
        std::vector<uint8_t> list =
            listOf({"a.arc", "gone.arc", "sub\\c.arc", "sub/gone.arc", "Folder", "DATA.ARC"}, version, 0xDEADBEEF);
        // Bytes after a name's NUL are kept as they are.
        list[versionListHeaderSize + versionRecordLayout(version).recordSize * 2 + 20] = 0x77;
        list.insert(list.end(), {'t', 'a', 'i', 'l'});  // nothing follows the last record once rewritten
        writeFileBytes(listPath, list);
        presentFolder("sub");
        present("a.arc");
        present("sub/c.arc");
        presentFolder("Folder");
        present("DATA.ARC");
        prune();
        list.resize(list.size() - 4);
        EXPECT_EQ(readFileBytes(listPath), keeping(list, {0, 2, 4, 5}));
        EXPECT_FALSE(fileExists(prunePath));
    }
}

TEST_F(VersionListPruneTest, NoInstalledListCreatesNothing) {
    present("a.arc");
    prune();
    EXPECT_FALSE(fileExists(listPath));
    EXPECT_EQ(filesInFolder(), 1u);
}

TEST_F(VersionListPruneTest, UnusableListsStayAsTheyWere) {
    std::vector<uint8_t> shortBlock = listOf({"gone.arc", "a.arc"});
    shortBlock.pop_back();
    std::vector<uint8_t> shortHeader = listOf({"gone.arc"});
    shortHeader.resize(12);
    std::vector<uint8_t> otherMagic = listOf({"gone.arc"});
    otherMagic[5] = '3';
    std::vector<uint8_t> hugeCount = listOf({"gone.arc"});
    writeU32(hugeCount.data() + 12, 0x00FFFFFF);
    std::vector<uint8_t> overflowingCount = listOf({"gone.arc"});
    writeU32(overflowingCount.data() + 12, 0x01000001);
    const struct {
        const char* what;
        std::vector<uint8_t> list;
    } cases[] = {
        {"short block", shortBlock},
        {"short header", shortHeader},
        {"other magic", otherMagic},
        {"count too large for the file", hugeCount},
        {"count whose size passes 32 bits", overflowingCount},
    };
    present("a.arc");
    for (const auto& test : cases) {
        writeFileBytes(listPath, test.list);
        prune();
        EXPECT_EQ(readFileBytes(listPath), test.list) << test.what;
        EXPECT_FALSE(fileExists(prunePath)) << test.what;
    }
}

// Joined paths are limited to 259 bytes. A record whose path would be longer cannot be tested, and
// the pruning stops rather than drop it: gone.arc stays listed too.
TEST_F(VersionListPruneTest, PathThatDoesNotFitStopsThePruning) {
    const size_t longest = 259 - folder.path().size() - 1;
    ASSERT_LE(longest + 1, maxVersionRecordName(VersionListVersion::V2));
    const std::string fits(longest, 'p');
    const std::string tooLong(longest + 1, 'q');
    present(fits);
    present(tooLong);  // the system may well take the longer path; pruning must not

    const std::vector<uint8_t> stops = listOf({"gone.arc", fits, tooLong});
    writeFileBytes(listPath, stops);
    prune();
    EXPECT_EQ(readFileBytes(listPath), stops);

    const std::vector<uint8_t> prunes = listOf({"gone.arc", fits});
    writeFileBytes(listPath, prunes);
    prune();
    EXPECT_EQ(readFileBytes(listPath), keeping(prunes, {1}));
}

TEST_F(VersionListPruneTest, NameFillingItsFieldIsTestedCutButKeptWhole) {
    std::vector<uint8_t> list = listOf({"n", "m", "a.arc"}, VersionListVersion::V1);
    std::memset(list.data() + versionListHeaderSize, 'n', 56);       // exists, once cut at 56 bytes
    std::memset(list.data() + versionListHeaderSize + 64, 'm', 56);  // does not exist
    writeFileBytes(listPath, list);
    present(std::string(56, 'n'));
    prune();
    EXPECT_EQ(readFileBytes(listPath), keeping(list, {0}));
}

TEST_F(VersionListPruneTest, LeftoverTemporaryFileIsReplaced) {
    const std::vector<uint8_t> list = listOf({"gone.arc", "a.arc"});
    writeFileBytes(listPath, list);
    writeFileText(prunePath, "left over from an interrupted pruning, longer than the new list would be");
    present("a.arc");
    prune();
    EXPECT_EQ(readFileBytes(listPath), keeping(list, {1}));
    EXPECT_FALSE(fileExists(prunePath));
}

TEST_F(VersionListPruneTest, FailedRewriteLeavesTheOldListAndNoTemporaryFile) {
    const std::vector<uint8_t> list = listOf({"gone.arc", "a.arc"});
    present("a.arc");

    // The temporary file cannot be created.
    writeFileBytes(listPath, list);
    presentFolder(versionListPruneName);
    prune();
    EXPECT_EQ(readFileBytes(listPath), list);
    std::filesystem::remove(prunePath);

    // The list is held open by a reader, so it cannot be replaced.
    {
        FileHandle reader;
        ASSERT_TRUE(reader.openRead(listPath.c_str()));
        prune();
    }
    EXPECT_EQ(readFileBytes(listPath), list);
    EXPECT_FALSE(fileExists(prunePath));

    prune();
    EXPECT_EQ(readFileBytes(listPath), keeping(list, {1})) << "the same list prunes once nothing is in the way";
}

#ifndef _WIN32
// Windows refuses to replace a read-only file; Wine run by root does not, so this is checked here.
TEST_F(VersionListPruneTest, ReadOnlyListIsNotReplaced) {
    const std::vector<uint8_t> list = listOf({"gone.arc"});
    writeFileBytes(listPath, list);
    std::filesystem::permissions(listPath, std::filesystem::perms::owner_read);
    prune();
    EXPECT_EQ(readFileBytes(listPath), list);
    EXPECT_FALSE(fileExists(prunePath));
}

// A write that stores less than asked (here: the file size limit is reached) leaves the old list.
TEST_F(VersionListPruneTest, ShortWriteLeavesTheOldList) {
    std::vector<std::string> names;
    for (int i = 0; i < 8; ++i) names.push_back("kept" + std::to_string(i) + ".arc");
    names.push_back("gone.arc");
    const std::vector<uint8_t> list = listOf(names);
    writeFileBytes(listPath, list);
    for (int i = 0; i < 8; ++i) present(names[i]);

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    prune();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(readFileBytes(listPath), list);
    EXPECT_FALSE(fileExists(prunePath));
}
#endif

TEST(VersionListWriterTest, RefusesNamesTheRecordCannotHold) {
    const struct {
        VersionListVersion version;
        std::string name;
        bool fits;
    } cases[] = {
        {VersionListVersion::V2, std::string(247, 'a'), true},
        {VersionListVersion::V2, std::string(248, 'a'), false},
        {VersionListVersion::V1, std::string(55, 'a'), true},
        {VersionListVersion::V1, std::string(56, 'a'), false},
        {VersionListVersion::V2, "", false},
        {VersionListVersion::V2, std::string("a\0b", 3), false},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(makeVersionList({{test.name, {}}}, test.version).has_value(), test.fits) << test.name.size();
    }
    const std::vector<uint8_t> v1 = *makeVersionList({{"a", checkValueFor(1)}}, VersionListVersion::V1, 7);
    ASSERT_EQ(v1.size(), 16u + 64u);
    EXPECT_EQ(std::memcmp(v1.data(), "QTS_____", 8), 0);
    EXPECT_EQ(readU32(v1.data() + 8), 7u);
    EXPECT_EQ(readU32(v1.data() + 12), 1u);
    EXPECT_EQ(v1[16 + 56], checkValueFor(1)[0]);
}

}  // namespace
