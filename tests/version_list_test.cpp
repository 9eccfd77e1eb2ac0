// Loading the payload's version list, finding records by name, and pruning the installed list.
#include "engine/version_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

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

using Bytes = std::vector<uint8_t>;
constexpr VersionListVersion V1 = VersionListVersion::V1;
constexpr VersionListVersion V2 = VersionListVersion::V2;

std::array<uint8_t, 8> valueFor(size_t seed) {
    std::array<uint8_t, 8> value{};
    for (uint8_t i = 0; i < 8; ++i) value[i] = static_cast<uint8_t>(seed * 31 + i * 7 + 1);
    return value;
}

Bytes listOf(const std::vector<std::string>& names, VersionListVersion version = V2, uint32_t headerWord = 0) {
    std::vector<VersionRecordSource> records;
    for (size_t i = 0; i < names.size(); ++i) records.push_back({names[i], valueFor(i)});
    return *makeVersionList(records, version, headerWord);
}

Bytes withCount(Bytes list, uint32_t count) {
    writeU32(list.data() + 12, count);
    return list;
}

uint8_t* recordAt(Bytes& list, uint32_t i) {
    return list.data() + versionListHeaderSize + i * versionRecordLayout(versionListVersionOf(list.data())).recordSize;
}

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
        list.clear();
        if (const std::optional<uint32_t> entry = archive.findEntry("tlx.hvl")) {
            list.loadFromArchive(executable, archive, *entry);
        }
    }
    void loadList(const Bytes& hvl) { load({{"data.arc", {1, 2, 3}}, {"TLX.HVL", hvl}}); }
};

TEST_F(VersionListLoadTest, BothVersionsLoadIntoZeroedWideRecords) {
    for (const VersionListVersion version : {V2, V1}) {
        const uint32_t field = versionRecordLayout(version).nameField;
        Bytes hvl = listOf({"a.arc", std::string(field - 1, 'n'), "full"}, version);
        recordAt(hvl, 0)[10] = 0xEE;                // a byte after the NUL does not reach the wide record
        std::memset(recordAt(hvl, 2), 'w', field);  // no NUL within the field: cut at its end
        loadList(hvl);
        EXPECT_EQ(list.version, version);
        ASSERT_EQ(list.count, 3u);
        const std::string names[] = {"a.arc", std::string(field - 1, 'n'), std::string(field, 'w')};
        for (uint32_t i = 0; i < 3; ++i) {
            const VersionRecord& record = list.records[i];
            EXPECT_EQ(record.name, names[i]);
            for (size_t b = names[i].size(); b < sizeof record.name; ++b) EXPECT_EQ(record.name[b], 0) << b;
            EXPECT_EQ(std::memcmp(record.checkValue, valueFor(i).data(), 8), 0) << i;
        }
    }
}

TEST_F(VersionListLoadTest, UnusableListsLeaveTheListEmpty) {
    const Bytes good = listOf({"a.arc", "b.arc"});
    const struct {
        const char* what;
        Bytes hvl;
    } cases[] = {
        {"other magic", Bytes{'Q', 'T', 'S', '_', 'V', '3', '_', '_', 0, 0, 0, 0, 0, 0, 0, 0}},
        {"magic in lower case", Bytes{'q', 't', 's', '_', 'v', '2', '_', '_', 0, 0, 0, 0, 0, 0, 0, 0}},
        {"short header", Bytes(good.begin(), good.begin() + 15)},
        {"record block one byte short", Bytes(good.begin(), good.end() - 1)},
        {"version 2 count whose size passes 32 bits", withCount(good, 0x01000000)},
        {"version 1 count whose size passes 32 bits", withCount(listOf({"a"}, V1), 0x04000000)},
        {"count too large for the file", withCount(good, 0x00FFFFFF)},
    };
    for (const auto& test : cases) {
        loadList(listOf({"stale.arc"}));
        ASSERT_EQ(list.count, 1u);
        loadList(test.hvl);
        EXPECT_EQ(list.count, 0u) << test.what;
        EXPECT_EQ(list.version, VersionListVersion::None) << test.what;
        EXPECT_EQ(list.findRecord("stale.arc"), nullptr) << test.what;
    }
    load({{"data.arc", {1}}, {"sys\\tlx.hvl", good}});
    EXPECT_EQ(list.count, 0u) << "an entry with a folder part is not the version list";
}

TEST_F(VersionListLoadTest, CountAloneDecidesHowMuchIsRead) {
    // The list entry holds only the header; its records lie in the bytes of the entry after it.
    const Bytes whole = listOf({"a.arc", "b.arc"});
    load({{"tlx.hvl", Bytes(whole.begin(), whole.begin() + 16)}, {"next.bin", Bytes(whole.begin() + 16, whole.end())}});
    ASSERT_EQ(list.count, 2u);
    EXPECT_STREQ(list.records[1].name, "b.arc");
}

TEST(VersionListNameTest, LastComponentDropsDriveAndFolders) {
    const struct {
        const char* name;
        const char* component;
    } cases[] = {
        {"plain.arc", "plain.arc"},
        {"a.b\\c", "c"},
        {"D:x.arc", "x.arc"},
        {"C:\\game\\sub/f.arc", "f.arc"},
        {"folder\\", ""},
        {"\x95\x5C.arc", "\x95\x5C.arc"},  // the trail byte 0x5C of a double-byte character
        {"sub\\\x95\x5C\x95\x5C", "\x95\x5C\x95\x5C"},
        {"\x82\x60\\x.arc", "x.arc"},  // a separator right after a double-byte character
        {"ab\x95", "ab\x95"},          // a lead byte at the end does not swallow the NUL
    };
    for (const auto& test : cases) EXPECT_STREQ(lastNameComponent(test.name), test.component) << test.name;
}

TEST_F(VersionListLoadTest, EntryNamesMatchTheLastComponentLowerCasedFirstMatchWinning) {
    loadList(
        listOf({"a.b\\c", "D:x.arc", "sub\\Data.ARC", "\x95\x5C.arc", "\x82\x60.arc", "first\\dup.arc", "DUP.arc"}));
    const struct {
        const char* lowerEntryName;
        int expected;  // record index, -1 for none
    } cases[] = {
        {"c", 0},        {"a.b\\c", -1},      {"x.arc", 1},    {"d:x.arc", -1},
        {"data.arc", 2}, {"\x95\x5C.arc", 3}, {".arc", -1},    {"\x82\x81.arc", 4},  // full-width A, a
        {"dup.arc", 5},  {"Data.ARC", -1},    {"missing", -1},
    };
    for (const auto& test : cases) {
        const VersionRecord* expected = test.expected < 0 ? nullptr : &list.records[test.expected];
        EXPECT_EQ(list.findRecord(test.lowerEntryName), expected) << test.lowerEntryName;
    }
}

class VersionListPruneTest : public ::testing::Test {
protected:
    TempFolder folder;
    std::string listPath = folder.file("TLX.hvl");
    std::string prunePath = folder.file(versionListPruneName);

    void present(const std::string& name) { writeFileText(folder.file(name), name); }
    void prune() { VersionList::pruneInstalled(folder.path().c_str()); }
    // The header of `list` with the count of `positions`, then the records at those positions.
    static Bytes keeping(Bytes list, const std::vector<uint32_t>& positions) {
        const uint32_t size = versionRecordLayout(versionListVersionOf(list.data())).recordSize;
        Bytes expected = withCount(Bytes(list.begin(), list.begin() + 16), static_cast<uint32_t>(positions.size()));
        for (uint32_t i : positions) expected.insert(expected.end(), recordAt(list, i), recordAt(list, i) + size);
        return expected;
    }
    // Prunes `list` and expects the records at `positions` to be kept, and no temporary file left.
    void expectPruned(const Bytes& list, const std::vector<uint32_t>& positions) {
        writeFileBytes(listPath, list);
        prune();
        EXPECT_EQ(readFileBytes(listPath), keeping(list, positions));
        EXPECT_FALSE(fileExists(prunePath));
    }
};

TEST_F(VersionListPruneTest, KeepsExistingRecordsInOrderWithTheirBytesAndVersion) {
    std::filesystem::create_directories(folder.file("sub"));
    std::filesystem::create_directories(folder.file("Folder"));
    for (const char* name : {"a.arc", "sub/c.arc", "DATA.ARC"}) present(name);
    for (const VersionListVersion version : {V2, V1}) {
        Bytes list = listOf({"a.arc", "gone.arc", "sub\\c.arc", "sub/gone.arc", "Folder", "DATA.ARC"}, version, 0xBEEF);
        recordAt(list, 2)[20] = 0x77;  // bytes after a name's NUL are kept as they are
        Bytes withTail = list;
        withTail.insert(withTail.end(), {'t', 'a', 'i', 'l'});  // nothing follows the last record once rewritten
        writeFileBytes(listPath, withTail);
        prune();
        EXPECT_EQ(readFileBytes(listPath), keeping(list, {0, 2, 4, 5}));
    }
    expectPruned(listOf({"gone.arc", "gone2.arc"}, V2, 0x12345678), {});  // a 16-byte list, word kept
    EXPECT_EQ(readFileBytes(listPath).size(), 16u);
}

TEST_F(VersionListPruneTest, NameFillingItsFieldIsTestedCutButKeptWhole) {
    Bytes list = listOf({"n", "m"}, V1);
    std::memset(recordAt(list, 0), 'n', 56);
    std::memset(recordAt(list, 1), 'm', 56);
    present(std::string(56, 'n'));
    expectPruned(list, {0});
}

TEST_F(VersionListPruneTest, UnusableOrMissingListsStayAsTheyWere) {
    prune();
    EXPECT_FALSE(fileExists(listPath)) << "no list, nothing created";
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));

    const Bytes good = listOf({"gone.arc", "a.arc"});
    Bytes otherMagic = good;
    otherMagic[5] = '3';
    const Bytes cases[] = {Bytes(good.begin(), good.begin() + 12), Bytes(good.begin(), good.end() - 1), otherMagic,
                           withCount(good, 0x00FFFFFF), withCount(good, 0x01000001)};
    present("a.arc");
    for (const Bytes& list : cases) {
        writeFileBytes(listPath, list);
        prune();
        EXPECT_EQ(readFileBytes(listPath), list);
        EXPECT_FALSE(fileExists(prunePath));
    }
}

// Joined paths are limited to 259 bytes. A record whose path would be longer cannot be tested, and
// the pruning stops rather than drop it: gone.arc stays listed too.
TEST_F(VersionListPruneTest, PathThatDoesNotFitStopsThePruning) {
    const size_t longest = 259 - folder.path().size() - 1;
    ASSERT_LT(longest, maxVersionRecordName(V2));
    const std::string fits(longest, 'p'), tooLong(longest + 1, 'q');
    present(fits);
    present(tooLong);  // the system may well reach the longer path; the pruning must not
    const Bytes stops = listOf({"gone.arc", fits, tooLong});
    writeFileBytes(listPath, stops);
    prune();
    EXPECT_EQ(readFileBytes(listPath), stops);
    expectPruned(listOf({"gone.arc", fits}), {1});
}

TEST_F(VersionListPruneTest, FailedRewriteLeavesTheOldListAndNoTemporaryFile) {
    const Bytes list = listOf({"gone.arc", "a.arc"});
    present("a.arc");
    writeFileBytes(listPath, list);

    std::filesystem::create_directory(prunePath);  // the temporary file cannot be created
    prune();
    EXPECT_EQ(readFileBytes(listPath), list);
    std::filesystem::remove(prunePath);
    {
        FileHandle reader;  // held open by a reader, the list cannot be replaced
        ASSERT_TRUE(reader.openRead(listPath.c_str()));
        prune();
    }
    EXPECT_EQ(readFileBytes(listPath), list);
    EXPECT_FALSE(fileExists(prunePath));

    writeFileText(prunePath, "left over from an interrupted pruning, longer than the new list");
    expectPruned(list, {1});
}

#ifndef _WIN32
// Windows refuses to replace a read-only file, which Wine run by root does not; and a short write
// needs the file size limit. Both are checked here.
TEST_F(VersionListPruneTest, ReadOnlyListOrShortWriteLeavesTheOldList) {
    std::vector<std::string> names = {"gone.arc"};
    for (int i = 0; i < 8; ++i) present(names.emplace_back("kept" + std::to_string(i)));
    const Bytes list = listOf(names);

    writeFileBytes(listPath, list);
    std::filesystem::permissions(listPath, std::filesystem::perms::owner_read);
    prune();
    EXPECT_EQ(readFileBytes(listPath), list);
    EXPECT_FALSE(fileExists(prunePath));
    std::filesystem::permissions(listPath, std::filesystem::perms::owner_all);

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = 1000;  // the rewrite of 16 + 8 * 256 bytes stops short
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    prune();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(readFileBytes(listPath), list);
    EXPECT_FALSE(fileExists(prunePath));
}
#endif

}  // namespace
